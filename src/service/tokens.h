#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quillora {

/// Lower-case hex MD5 of the text's UTF-8 bytes (32 characters).
std::string md5(std::string_view text);

/// Lower-case hex SHA-256 of the text's UTF-8 bytes (64 characters).
std::string generateSHA256(std::string_view text);

/// The daily token of the local date of `date` (see contract::dailyToken).
std::string shatoken(std::chrono::system_clock::time_point date);

}  // namespace quillora
