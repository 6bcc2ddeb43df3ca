#pragma once

#include <string>
#include <string_view>

namespace quillora {

/// Lower-case hex MD5 of the bytes.
std::string md5Hex(std::string_view data);

/// Lower-case hex SHA-256 of the bytes.
std::string sha256Hex(std::string_view data);

}  // namespace quillora
