#pragma once

#include <chrono>
#include <string>

namespace quillora::server {

/// True for the daily token of the server's local yesterday, today or tomorrow at `now`:
/// clients hash their own local date, which may differ from ours by a day.
bool isAcceptedDailyToken(const std::string& token, std::chrono::system_clock::time_point now);

/// A task id the server accepts: 1 to 64 characters of [A-Za-z0-9_-].
bool isValidTaskId(const std::string& taskid);

}  // namespace quillora::server
