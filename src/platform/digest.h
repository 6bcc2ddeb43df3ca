#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillora {

/// Lower-case hex MD5 of the bytes.
std::string md5Hex(std::string_view data);

/// Lower-case hex SHA-256 of the bytes.
std::string sha256Hex(std::string_view data);

/// Lower-case hex SHA-256 of a file's bytes, read in pieces (large files are not held in
/// memory). Throws FileError when the file cannot be read.
std::string sha256HexOfFile(const std::filesystem::path& path);

}  // namespace quillora
