#pragma once

#include <chrono>
#include <string>

namespace quillora {

/// `time` in the local time zone, formatted with strftime's `format` ("%Y-%m-%d %H:%M:%S").
std::string formatLocalTime(std::chrono::system_clock::time_point time, const char* format);

/// Noon of the local calendar day `days` days after the local date of `time`; month ends and
/// daylight-saving days are taken care of by the calendar, not by adding 24-hour steps.
std::chrono::system_clock::time_point localNoonDaysFrom(std::chrono::system_clock::time_point time,
                                                        int days);

}  // namespace quillora
