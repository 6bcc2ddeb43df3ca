#include "shell/profile.h"

#include <cstdio>

#include "platform/local_time.h"
#include "text/numbers.h"
#include "text/unicode.h"

namespace quillora {

namespace {

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string ProfileDisplay::balanceText() const {
    return "¥" + money(preamount);
}

std::string ProfileDisplay::shijianzhouPrice() const {
    return perMinutePrice(shijianzhou);
}

std::string ProfileDisplay::zimuPrice() const {
    return perMinutePrice(zimu);
}

ProfileDisplay profileDisplay(const std::optional<std::string>& currentUser,
                              const std::optional<UserData>& user) {
    ProfileDisplay display;
    display.srtusername = currentUser.value_or("用户");
    if (!user) {
        display.payType = "暂无数据";
        display.phone = "未知";
        display.shijianzhou = "0";
        display.zimu = "0";
        return display;
    }
    display.preamount = user->preamount.value_or(0);
    display.phone = user->phone ? maskPhone(*user->phone) : "未知";
    display.payType = payTypeText(user->paytype);
    display.shijianzhou = shortestDecimal(user->shijianzhou.value_or(0));
    display.zimu = shortestDecimal(user->zimu.value_or(0));
    return display;
}

std::string maskPhone(const std::string& phone) {
    const std::vector<std::string_view> characters = graphemes(phone);
    if (characters.size() != 11) return phone;
    std::string masked;
    for (std::size_t i = 0; i < 3; ++i)
        masked += characters[i];
    masked += "****";
    for (std::size_t i = 7; i < 11; ++i)
        masked += characters[i];
    return masked;
}

std::string payTypeText(std::optional<std::int64_t> paytype) {
    if (paytype == 1) return "微信支付";
    if (paytype == 0) return "支付宝";
    return "其他支付";
}

std::string perMinutePrice(const std::string& price) {
    return formatted("%.1f", parseDecimalNumber(price).value_or(0)) + "元/分钟";
}

std::string currentUserLine(const std::optional<std::string>& currentUser) {
    return "当前用户: " + currentUser.value_or("未登录");
}

std::string lastLoginLine(const std::optional<std::chrono::system_clock::time_point>& time) {
    return "最后登录: " +
           (time ? formatLocalTime(*time, "%Y-%m-%d %H:%M:%S %z") : std::string("未知"));
}

}  // namespace quillora
