#pragma once

#include <filesystem>
#include <vector>

namespace quillora {

/// $XDG_DATA_HOME/quillora (default ~/.local/share/quillora), created when missing.
/// Throws FileError when it cannot be created.
std::filesystem::path applicationSupportDirectory();

/// $XDG_DOCUMENTS_DIR, else ~/Documents; created when missing.
std::filesystem::path documentsDirectory();

/// $XDG_CONFIG_HOME/quillora (default ~/.config/quillora); not created here.
std::filesystem::path configDirectory();

/// The system temporary folder.
std::filesystem::path temporaryDirectory();

/// The folders of the desktop's application entries, most important first:
/// $XDG_DATA_HOME/applications, then "applications" under each of $XDG_DATA_DIRS
/// (default /usr/local/share:/usr/share).
std::vector<std::filesystem::path> applicationDirectories();

/// $HOME, else the password database's home of the current user.
std::filesystem::path homeDirectory();

}  // namespace quillora
