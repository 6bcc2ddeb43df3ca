#include "contract/platform_contract.h"

#include <gtest/gtest.h>

#include <ctime>

namespace quillora::contract {
namespace {

std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

// Fixed vectors worked out by hand (sha256sum, md5sum of the salted date and the seeds): both
// sides share this code, so only a known answer shows a changed salt, seed or recipe.
TEST(PlatformContract, TokensMatchFixedVectors) {
    const std::string dec5 = "4f12de71cb8f10199a944568687bba60bb08444adf0fab8670612d37c4ebfad0";
    EXPECT_EQ(dailyTokenForDate("2026-12-05"), dec5);
    // The local date counts, from the first to the last minute of the day.
    EXPECT_EQ(dailyToken(localTime(2026, 12, 5, 0)), dec5);
    EXPECT_EQ(dailyToken(localTime(2026, 12, 5, 23)), dec5);
    // Shifted days follow the calendar across a year end, both ways.
    EXPECT_EQ(dailyToken(localTime(2026, 12, 31, 23), 1),
              "2769808990f74443d349cce8a37f7efe652008af90e8c80f343e2f1e2e7cf5a8");
    EXPECT_EQ(dailyToken(localTime(2026, 12, 6, 1), -1), dec5);
    EXPECT_EQ(uploadToken(), "5170539fd65654f7d3aeca2a6c581ec5");
    EXPECT_EQ(startToken(), "705a1ba47101794df7faec24bd9ca285");
}

}  // namespace
}  // namespace quillora::contract
