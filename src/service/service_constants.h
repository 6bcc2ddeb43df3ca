#pragma once

#include <string>

// The credentials, paths and tokens shared with the platform live in contract/.
namespace quillora::service {

/// The local reference platform, used when no override is set.
inline constexpr const char* kDefaultApiBaseURL = "http://127.0.0.1:8750";
inline constexpr const char* kDefaultTaskBaseURL = "http://127.0.0.1:8750";
/// Environment variables that point the client at another platform.
inline constexpr const char* kApiURLVariable = "QUILLORA_API_URL";
inline constexpr const char* kTaskURLVariable = "QUILLORA_TASK_URL";

/// The platform's web address shown in the recharge hint.
inline constexpr const char* kPlatformWebAddress = "http://127.0.0.1:8750";

}  // namespace quillora::service
