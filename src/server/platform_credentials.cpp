#include "server/platform_credentials.h"

#include <ctime>

#include "platform/digest.h"

namespace quillora::server {

std::string dailyToken(std::chrono::system_clock::time_point now, int days) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    // Normalising a shifted calendar day copes with month ends and daylight-saving days.
    local.tm_mday += days;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const std::time_t shifted = std::mktime(&local);
    std::tm day{};
    ::localtime_r(&shifted, &day);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &day);
    return sha256Hex(std::string(text) + kDailyTokenSalt);
}

bool isAcceptedDailyToken(const std::string& token, std::chrono::system_clock::time_point now) {
    for (int days : {-1, 0, 1}) {
        if (token == dailyToken(now, days)) return true;
    }
    return false;
}

std::string expectedUploadToken() {
    return md5Hex(kUploadTokenSeed);
}
std::string expectedStartToken() {
    return md5Hex(kStartTokenSeed);
}

bool isValidTaskId(const std::string& taskid) {
    if (taskid.empty() || taskid.size() > 64) return false;
    for (unsigned char c : taskid) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace quillora::server
