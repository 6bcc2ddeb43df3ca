#include <gtest/gtest.h>

#include "shell/profile.h"

namespace quillora {
namespace {

TEST(ShellProfile, DisplayRulesForTheStoredUser) {
    const ProfileDisplay empty = profileDisplay(std::nullopt, std::nullopt);
    EXPECT_EQ(empty.srtusername, "用户");
    EXPECT_EQ(empty.balanceText(), "¥0.00");
    EXPECT_EQ(empty.payType, "暂无数据");
    EXPECT_EQ(empty.phone, "未知");
    EXPECT_EQ(empty.shijianzhouPrice(), "0.0元/分钟");
    EXPECT_EQ(empty.zimuPrice(), "0.0元/分钟");

    UserData user;
    user.preamount = 12.345;
    user.phone = "13912345678";
    user.shijianzhou = 1.55;
    user.zimu = 2;
    user.paytype = 2;
    const ProfileDisplay shown = profileDisplay("alice", user);
    EXPECT_EQ(shown.srtusername, "alice");
    EXPECT_EQ(shown.balanceText(), "¥12.35");
    EXPECT_EQ(shown.phone, "139****5678");
    EXPECT_EQ(shown.payType, "其他支付");
    EXPECT_EQ(shown.shijianzhou, "1.55");
    EXPECT_EQ(shown.zimuPrice(), "2.0元/分钟");

    user = UserData{};
    const ProfileDisplay bare = profileDisplay("bob", user);
    EXPECT_EQ(bare.phone, "未知");
    EXPECT_EQ(bare.payType, "其他支付");
    EXPECT_EQ(bare.zimu, "0.0");

    struct Case {
        const char* phone;
        const char* shown;
    };
    const Case phones[] = {{"1391234567", "1391234567"},
                           {"139123456789", "139123456789"},
                           {"一二三四五六七八九十〇", "一二三****八九十〇"},
                           {"", ""}};
    for (const Case& c : phones)
        EXPECT_EQ(maskPhone(c.phone), c.shown) << c.phone;
    EXPECT_EQ(payTypeText(1), "微信支付");
    EXPECT_EQ(payTypeText(0), "支付宝");
    EXPECT_EQ(perMinutePrice("abc"), "0.0元/分钟");

    EXPECT_EQ(currentUserLine(std::nullopt), "当前用户: 未登录");
    EXPECT_EQ(lastLoginLine(std::nullopt), "最后登录: 未知");
}

}  // namespace
}  // namespace quillora
