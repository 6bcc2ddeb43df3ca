#pragma once

#include <sys/types.h>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora {

/// Writes `contents` to `path` through a temporary file in the same folder and a rename, so a
/// reader sees the old file or the whole new one, never a part. Throws FileError.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         mode_t mode = 0644);

/// Reads a whole file as bytes. Throws FileError when it cannot be read
/// (missing, a directory, unreadable).
std::string readFile(const std::filesystem::path& path);

}  // namespace quillora
