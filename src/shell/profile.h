#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "store/user_manager.h"

namespace quillora {

/// What the profile screen shows for the signed-in user and the stored platform record.
struct ProfileDisplay {
    std::string srtusername;
    double preamount = 0;
    std::string phone;
    std::string payType;
    std::string shijianzhou;
    std::string zimu;

    /// The balance card, "¥%.2f".
    std::string balanceText() const;
    /// The fixed price of the efficient timeline.
    static std::string efficientTimelinePrice() { return "1.0元/分钟"; }
    /// The precise-timeline and subtitle-production prices, "%.1f元/分钟".
    std::string shijianzhouPrice() const;
    std::string zimuPrice() const;
};

/// The profile for `currentUser` (the signed-in name) and the stored record, if any.
ProfileDisplay profileDisplay(const std::optional<std::string>& currentUser,
                              const std::optional<UserData>& user);

/// A phone of exactly 11 characters as its first 3, "****" and its last 4; others unchanged.
std::string maskPhone(const std::string& phone);

/// 1 → "微信支付", 0 → "支付宝", anything else or nothing → "其他支付".
std::string payTypeText(std::optional<std::int64_t> paytype);

/// "%.1f元/分钟" of a price kept as decimal text; text that is not a number counts as 0.
std::string perMinutePrice(const std::string& price);

/// The user overview's two lines: "当前用户:" and "最后登录:" with their values.
std::string currentUserLine(const std::optional<std::string>& currentUser);
std::string lastLoginLine(const std::optional<std::chrono::system_clock::time_point>& time);

}  // namespace quillora
