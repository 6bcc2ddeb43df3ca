#include "service/tokens.h"

#include <ctime>

#include "platform/digest.h"
#include "service/service_constants.h"

namespace quillora {

std::string md5(std::string_view text) {
    return md5Hex(text);
}

std::string generateSHA256(std::string_view text) {
    return sha256Hex(text);
}

std::string localDateText(std::chrono::system_clock::time_point date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

std::string dailyTokenForDateText(std::string_view yyyyMMdd) {
    return generateSHA256(std::string(yyyyMMdd) + service::kDailyTokenSalt);
}

std::string shatoken(std::chrono::system_clock::time_point date) {
    return dailyTokenForDateText(localDateText(date));
}

std::string uploadToken() {
    return md5(service::kUploadTokenSeed);
}

std::string startToken() {
    return md5(service::kStartTokenSeed);
}

}  // namespace quillora
