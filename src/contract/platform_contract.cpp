#include "contract/platform_contract.h"

#include "platform/digest.h"
#include "platform/local_time.h"

namespace quillora::contract {

std::string dailyTokenForDate(std::string_view yyyyMMdd) {
    return sha256Hex(std::string(yyyyMMdd) + kDailyTokenSalt);
}

std::string dailyToken(std::chrono::system_clock::time_point time, int days) {
    const auto day = days == 0 ? time : localNoonDaysFrom(time, days);
    return dailyTokenForDate(formatLocalTime(day, "%Y-%m-%d"));
}

std::string uploadToken() {
    return md5Hex(kUploadTokenSeed);
}

std::string startToken() {
    return md5Hex(kStartTokenSeed);
}

}  // namespace quillora::contract
