#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quillora {

/// Lower-case hex MD5 of the text's UTF-8 bytes (32 characters).
std::string md5(std::string_view text);

/// Lower-case hex SHA-256 of the text's UTF-8 bytes (64 characters).
std::string generateSHA256(std::string_view text);

/// The daily token: SHA-256 of the local date "yyyy-MM-dd" followed by the salt.
std::string shatoken(std::chrono::system_clock::time_point date);

/// The daily token for an already formatted date text.
std::string dailyTokenForDateText(std::string_view yyyyMMdd);

/// The local calendar date of a time point as "yyyy-MM-dd".
std::string localDateText(std::chrono::system_clock::time_point date);

/// The fixed tokens of the upload form and of the task start request.
std::string uploadToken();
std::string startToken();

}  // namespace quillora
