#include "text/time_codes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillora {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ParseTime, ReadsFourSignedIntegersWithInterchangeableSeparators) {
    // The fourth piece counts milliseconds, not a decimal fraction; pieces are not range-checked.
    for (const auto& [text, seconds] : std::vector<std::pair<std::string, double>>{
             {"01:02:03,004", 3723.004},
             {"1:2:3:4", 3723.004},
             {"1,2,3,4", 3723.004},
             {"00:00:01,5", 1.005},
             {"00:75:00,000", 4500.0},
             {"+00:-01:00,000", -60.0},
             {"-9223372036854775808:0:0,0", -9223372036854775808.0 * 3600.0}}) {
        ASSERT_TRUE(parseTime(text)) << text;
        EXPECT_DOUBLE_EQ(*parseTime(text), seconds) << text;
    }
    // Three or five pieces, empty pieces, blanks, other signs and digits, beyond 64 bits.
    for (const char* text : {"01:02:03.004", "01:02:03,004,5", "", ":::", " 01:02:03,004",
                             "01:02:03,004 ", "01:02:0x3,004", "01:02:+-3,004", "01:02:03,+",
                             "01:02:03,１", "9223372036854775808:0:0,0"})
        EXPECT_FALSE(parseTime(text)) << text;
}

TEST(TimeString, TruncatesMillisecondsAndClampsOutOfDomainValues) {
    // Negative values keep the sign on each piece, as integer division gives it.
    for (const auto& [seconds, text] :
         std::vector<std::pair<double, std::string>>{{1.001, "00:00:01,000"},
                                                     {3723.5, "01:02:03,500"},
                                                     {360000, "100:00:00,000"},
                                                     {0.9999, "00:00:00,999"},
                                                     {-1.5, "00:00:-1,-500"},
                                                     {std::nan(""), "00:00:00,000"},
                                                     {kInf, "2562047788015:12:55,807"},
                                                     {1e300, "2562047788015:12:55,807"},
                                                     {-kInf, "-2562047788015:-12:-55,-808"}})
        EXPECT_EQ(timeString(seconds), text) << seconds;

    // The single-precision form, as the frame helpers use it.
    constexpr float kInfF = std::numeric_limits<float>::infinity();
    for (const auto& [seconds, text] : std::vector<std::pair<float, std::string>>{
             {2.3f, "00:00:02,299"},
             {3723.5f, "01:02:03,500"},
             {0.0f, "00:00:00,000"},
             {360000.0f, "100:00:00,000"},
             {std::nanf(""), "00:00:00,000"},
             {kInfF, "2562047788015215:30:07,000"},
             {-kInfF, "-2562047788015215:-30:-8,000"},
             {std::numeric_limits<float>::max(), "2562047788015215:30:07,000"}})
        EXPECT_EQ(secondsToSRTTime(seconds), text) << seconds;
}

TEST(FramesToSRTTime, DividesByTheTimebaseAndSurvivesBrokenOnes) {
    EXPECT_EQ(framesToSRTTime(7, 25), "00:00:00,280");
    EXPECT_EQ(framesToSRTTime(29, 30), "00:00:00,966");
    EXPECT_EQ(framesToSRTTime(90000, 25), "01:00:00,000");
    EXPECT_EQ(framesToSRTTime(1001, 29.97), "00:00:33,400");
    // Timebase 0, NaN or tiny: clamped, never a crash.
    EXPECT_EQ(framesToSRTTime(0, 0), "00:00:00,000");
    EXPECT_EQ(framesToSRTTime(10, 0), "2562047788015215:30:07,000");
    EXPECT_EQ(framesToSRTTime(-10, 0), "-2562047788015215:-30:-8,000");
    EXPECT_EQ(framesToSRTTime(10, std::nan("")), "00:00:00,000");
    EXPECT_EQ(framesToSRTTime(std::numeric_limits<int64_t>::max(), 1e-300),
              "2562047788015215:30:07,000");
}

TEST(ComputedTimeString, KeepsWholeMillisecondsThatBinaryRoundingWouldLose) {
    // Unlike timeString (1.001 gives ",000"), a computed time lands on its millisecond.
    for (const auto& [seconds, text] :
         std::vector<std::pair<double, std::string>>{{29 / 25.0, "00:00:01,160"},
                                                     {1.001, "00:00:01,001"},
                                                     {3725.9999, "01:02:05,999"},
                                                     {-0.5, "00:00:00,000"},
                                                     {std::nan(""), "00:00:00,000"},
                                                     {kInf, "00:00:00,000"}})
        EXPECT_EQ(computedTimeString(seconds), text) << seconds;
}

TEST(FrameHelpers, TruncateTheBinaryProductTowardZero) {
    EXPECT_EQ(frameAt(frameTime(30, 25.0), 25.0), 30);
    // 29 / 25.0 * 25 is 28.999999999999996 in binary: the product is truncated as it stands.
    EXPECT_EQ(frameAt(frameTime(29, 25.0), 25.0), 28);
    EXPECT_EQ(frameAt(1.999, 25.0), 49);
    EXPECT_EQ(frameAt(-0.03, 25.0), 0);
    EXPECT_EQ(frameAt(std::nan(""), 25.0), 0);
    EXPECT_EQ(frameAt(kInf, 25.0), std::numeric_limits<int64_t>::max());
}

TEST(ParseTimeRange, ReadsTheSecondLine) {
    auto range = parseTimeRange("1\n00:00:01,000 --> 00:00:02,500\nHi");
    ASSERT_TRUE(range);
    EXPECT_DOUBLE_EQ(range->startTime, 1.0);
    EXPECT_DOUBLE_EQ(range->endTime, 2.5);
    // Spaces and tabs around the times are trimmed.
    EXPECT_TRUE(parseTimeRange("1\n\t00:00:01,000  -->  00:00:02,000 \nHi"));
    for (const char* block :
         {"1", "1\n00:00:01,000-->00:00:02,000\nHi",
          "1\n00:00:01,000 --> 00:00:02,000 --> 00:00:03,000\nHi",
          "1\n00:00:01.000 --> 00:00:02,000\nHi", "\n1\n00:00:01,000 --> 00:00:02,000\nHi"})
        EXPECT_FALSE(parseTimeRange(block)) << block;
}

TEST(UpdateBlockEndTime, ReplacesOnlyTheEnd) {
    EXPECT_EQ(updateBlockEndTime("1\n 00:00:01,000 --> 00:00:02,000\nHi", "00:00:09,000"),
              "1\n 00:00:01,000 --> 00:00:09,000\nHi");
    // Other newline characters in the block come back as line feeds.
    EXPECT_EQ(updateBlockEndTime("1\n00:00:01,000 --> 00:00:02,000\rHi\u2028there", "X"),
              "1\n00:00:01,000 --> X\nHi\nthere");
    // "\r\n" is two line ends, so the time range is not on the second line.
    for (const char* unchanged :
         {"1\r\n00:00:01,000 --> 00:00:02,000", "1\n00:00:01,000->00:00:02,000\nHi", "only"})
        EXPECT_EQ(updateBlockEndTime(unchanged, "X"), unchanged);
}

// Two blocks, the first ending at `firstEnd` and the second starting at `secondStart`.
std::string twoBlocks(const std::string& firstEnd, const std::string& secondStart) {
    return "1\n00:00:01,000 --> " + firstEnd + "\nA\n\n2\n" + secondStart + " --> 00:00:06,000\nB";
}

TEST(AdjustTimeGaps, ClosesGapsBelowTheFrameLimit) {
    // 2.4 - 2.0 is just below 0.4 in double precision; an overlap is cut back to the next start.
    for (const char* start : {"00:00:02,300", "00:00:02,400"}) {
        EXPECT_EQ(adjustTimeGaps(twoBlocks("00:00:02,000", start), 10), twoBlocks(start, start));
    }
    EXPECT_EQ(adjustTimeGaps(twoBlocks("00:00:05,000", "00:00:04,000"), 10),
              twoBlocks("00:00:04,000", "00:00:04,000"));
    const std::string longGap = twoBlocks("00:00:02,000", "00:00:02,500");
    EXPECT_EQ(adjustTimeGaps(longGap, 10), longGap);
    // Gap limit in frames at a fixed 25 per second; NaN closes nothing.
    const std::string gap = "1\n0:0:1,0 --> 0:0:2,0\nA\n\n2\n0:0:3,0 --> 0:0:4,0\nB";
    EXPECT_EQ(adjustTimeGaps(gap, 26),
              "1\n0:0:1,0 --> 00:00:03,000\nA\n\n2\n0:0:3,0 --> 0:0:4,0\nB");
    EXPECT_EQ(adjustTimeGaps(gap, 25), gap);
    EXPECT_EQ(adjustTimeGaps(gap, std::nan("")), gap);
}

TEST(AdjustTimeGaps, KeepsUnreadableBlocksAndDropsExtraSeparators) {
    // A third line feed makes the next block start with an empty line: it cannot be read, so
    // the block before it keeps its end too.
    const std::string extraBlank =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n\n2\n00:00:02,100 --> 00:00:03,000\nB";
    EXPECT_EQ(adjustTimeGaps(extraBlank, 10), extraBlank);
    EXPECT_EQ(adjustTimeGaps("\n\n\n\n1\n00:00:01,000 --> 00:00:02,000\nA\n\n\n\n", 10),
              "1\n00:00:01,000 --> 00:00:02,000\nA");
    EXPECT_EQ(adjustTimeGaps("", 10), "");

    // Every block but the last is adjusted, around a block without a time range.
    const std::string text =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:02,100 --> 00:00:03,000\nB\n\n"
        "x\nnot a time\nC\n\n4\n00:00:05,000 --> 00:00:05,500\nD\n\n"
        "5\n00:00:05,600 --> 00:00:07,000\nE";
    EXPECT_EQ(adjustTimeGaps(text, 10),
              "1\n00:00:01,000 --> 00:00:02,100\nA\n\n2\n00:00:02,100 --> 00:00:03,000\nB\n\n"
              "x\nnot a time\nC\n\n4\n00:00:05,000 --> 00:00:05,600\nD\n\n"
              "5\n00:00:05,600 --> 00:00:07,000\nE");
}

}  // namespace
}  // namespace quillora
