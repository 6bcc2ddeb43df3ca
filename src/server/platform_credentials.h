#pragma once

#include <chrono>
#include <string>

namespace quillora::server {

/// What the platform accepts from its client: the operator account, the salt of the daily
/// token and the seeds of the two fixed tokens.
inline constexpr const char* kOperatorAccount = "12345678901";
inline constexpr const char* kOperatorPassword = "246810";
inline constexpr const char* kDailyTokenSalt = "vestrial";
inline constexpr const char* kUploadAccount = "quietfern";
inline constexpr const char* kUploadTokenSeed = "abc.sitename.examplequietfern";
inline constexpr const char* kStartTokenSeed = "abc.sitename.example12345678901";

/// True for the daily token of the server's local yesterday, today or tomorrow at `now`:
/// clients hash their own local date, which may differ from ours by a day.
bool isAcceptedDailyToken(const std::string& token, std::chrono::system_clock::time_point now);

/// The daily token of the local date `days` days from `now`.
std::string dailyToken(std::chrono::system_clock::time_point now, int days = 0);

std::string expectedUploadToken();
std::string expectedStartToken();

/// A task id the server accepts: 1 to 64 characters of [A-Za-z0-9_-].
bool isValidTaskId(const std::string& taskid);

}  // namespace quillora::server
