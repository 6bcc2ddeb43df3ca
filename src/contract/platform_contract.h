#pragma once

#include <chrono>
#include <string>
#include <string_view>

// What the client and the platform agree on: the fixed credentials every request carries, the
// endpoint paths and the token recipes. Both sides include this header, so the recipes are
// pinned by fixed test vectors rather than by the two sides agreeing with each other.
namespace quillora::contract {

/// Operator account every platform request is signed with.
inline constexpr const char* kOperatorAccount = "12345678901";
inline constexpr const char* kOperatorPassword = "246810";
/// Appended to the local date before hashing the daily token.
inline constexpr const char* kDailyTokenSalt = "vestrial";
/// Account name of the upload form and the seeds of the two fixed tokens.
inline constexpr const char* kUploadAccount = "quietfern";
inline constexpr const char* kUploadTokenSeed = "abc.sitename.examplequietfern";
inline constexpr const char* kStartTokenSeed = "abc.sitename.example12345678901";

/// Endpoint paths: sign-in and charging on the API host, the rest on the task server host.
inline constexpr const char* kLoginPath = "/api/dssrtuserlogin";
inline constexpr const char* kChargePath = "/api/dssrtkoufee";
inline constexpr const char* kUploadPath = "/clients/postdata.php";
inline constexpr const char* kStartTaskPath = "/clients/starttask.php";
/// A task's result is kResultPathPrefix + task id + kResultPathSuffix.
inline constexpr const char* kResultPathPrefix = "/srt/";
inline constexpr const char* kResultPathSuffix = ".srt";

/// The daily token of a date written "yyyy-MM-dd": lower-case hex SHA-256 of the date and salt.
std::string dailyTokenForDate(std::string_view yyyyMMdd);

/// The daily token of the local calendar date `days` days after `time`'s local date.
std::string dailyToken(std::chrono::system_clock::time_point time, int days = 0);

/// The fixed tokens of the upload form and of the task start request (hex MD5 of the seeds).
std::string uploadToken();
std::string startToken();

}  // namespace quillora::contract
