#pragma once

#include <filesystem>

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

/// $HOME, else the password database's home of the current user.
std::filesystem::path homeDirectory();

}  // namespace quillora
