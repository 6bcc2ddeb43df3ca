#pragma once

#include <filesystem>
#include <optional>

namespace quillora {

/// The first entry, in directory-listing order, beside `scriptFile` that has the script's base
/// name and an "mp3", "mov", "mp4" or "wav" extension (any case). Nothing when none matches or
/// the folder cannot be listed (the failure is written to the console).
std::optional<std::filesystem::path> findMatchingMediaFileInSameDirectory(
    const std::filesystem::path& scriptFile);

}  // namespace quillora
