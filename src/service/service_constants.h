#pragma once

#include <string>

namespace quillora::service {

/// Operator account the client signs every platform request with.
inline constexpr const char* kOperatorAccount = "12345678901";
inline constexpr const char* kOperatorPassword = "246810";
/// Appended to the local date before hashing the daily token.
inline constexpr const char* kDailyTokenSalt = "vestrial";
/// Account name of the upload form and the seeds of the two fixed tokens.
inline constexpr const char* kUploadAccount = "quietfern";
inline constexpr const char* kUploadTokenSeed = "abc.sitename.examplequietfern";
inline constexpr const char* kStartTokenSeed = "abc.sitename.example12345678901";

/// The local reference platform, used when no override is set.
inline constexpr const char* kDefaultApiBaseURL = "http://127.0.0.1:8750";
inline constexpr const char* kDefaultTaskBaseURL = "http://127.0.0.1:8750";
/// Environment variables that point the client at another platform.
inline constexpr const char* kApiURLVariable = "QUILLORA_API_URL";
inline constexpr const char* kTaskURLVariable = "QUILLORA_TASK_URL";

/// The platform's web address shown in the recharge hint.
inline constexpr const char* kPlatformWebAddress = "http://127.0.0.1:8750";

inline constexpr const char* kLoginPath = "/api/dssrtuserlogin";
inline constexpr const char* kChargePath = "/api/dssrtkoufee";
inline constexpr const char* kUploadPath = "/clients/postdata.php";
inline constexpr const char* kStartTaskPath = "/clients/starttask.php";
inline constexpr const char* kResultPathPrefix = "/srt/";

}  // namespace quillora::service
