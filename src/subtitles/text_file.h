#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora {

/// A text file that cannot be read, is not UTF-8, or cannot be written.
class TextFileError : public Error {
  public:
    using Error::Error;
};

/// Reads a whole file that must be UTF-8 text (a leading byte-order mark is kept as it is).
/// Throws TextFileError naming the file when it is missing, a folder, unreadable or not UTF-8.
std::string readUtf8File(const std::filesystem::path& path);

/// Writes `text` atomically; throws TextFileError naming the file when that fails.
void writeTextFile(const std::filesystem::path& path, std::string_view text);

}  // namespace quillora
