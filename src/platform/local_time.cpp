#include "platform/local_time.h"

#include <ctime>

namespace quillora {
namespace {

std::tm localCalendar(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

}  // namespace

std::string formatLocalTime(std::chrono::system_clock::time_point time, const char* format) {
    const std::tm local = localCalendar(time);
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

std::chrono::system_clock::time_point localNoonDaysFrom(std::chrono::system_clock::time_point time,
                                                        int days) {
    std::tm local = localCalendar(time);
    local.tm_mday += days;
    local.tm_hour = 12;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

}  // namespace quillora
