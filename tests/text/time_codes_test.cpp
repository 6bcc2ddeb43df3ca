#include "text/time_codes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillora {
namespace {

TEST(ParseTime, ReadsFourSignedIntegersWithInterchangeableSeparators) {
    EXPECT_DOUBLE_EQ(*parseTime("01:02:03,004"), 3723.004);
    EXPECT_DOUBLE_EQ(*parseTime("1:2:3:4"), 3723.004);
    EXPECT_DOUBLE_EQ(*parseTime("1,2,3,4"), 3723.004);
    // The fourth piece counts milliseconds, not a decimal fraction.
    EXPECT_DOUBLE_EQ(*parseTime("00:00:01,5"), 1.005);
    // Pieces are not range-checked.
    EXPECT_DOUBLE_EQ(*parseTime("00:75:00,000"), 4500.0);
    EXPECT_DOUBLE_EQ(*parseTime("+00:-01:00,000"), -60.0);
    EXPECT_DOUBLE_EQ(*parseTime("-9223372036854775808:0:0,0"), -9223372036854775808.0 * 3600.0);
}

TEST(ParseTime, RejectsAnythingElse) {
    EXPECT_FALSE(parseTime("01:02:03.004"));  // three pieces
    EXPECT_FALSE(parseTime("01:02:03,004,5"));
    EXPECT_FALSE(parseTime(""));
    EXPECT_FALSE(parseTime(":::"));  // empty pieces are kept, and are not integers
    EXPECT_FALSE(parseTime(" 01:02:03,004"));
    EXPECT_FALSE(parseTime("01:02:03,004 "));
    EXPECT_FALSE(parseTime("01:02:0x3,004"));
    EXPECT_FALSE(parseTime("01:02:+-3,004"));
    EXPECT_FALSE(parseTime("01:02:03,+"));
    EXPECT_FALSE(parseTime("01:02:03,１"));                // full-width digit
    EXPECT_FALSE(parseTime("9223372036854775808:0:0,0"));  // beyond 64 bits
}

TEST(TimeString, TruncatesMilliseconds) {
    EXPECT_EQ(timeString(1.001), "00:00:01,000");
    EXPECT_EQ(timeString(3723.5), "01:02:03,500");
    EXPECT_EQ(timeString(360000), "100:00:00,000");
    EXPECT_EQ(timeString(0.9999), "00:00:00,999");
    EXPECT_EQ(timeString(0), "00:00:00,000");
    // Negative values keep the sign on each piece, as integer division gives it.
    EXPECT_EQ(timeString(-1.5), "00:00:-1,-500");
}

TEST(TimeString, ValuesOutsideTheDomainAreClamped) {
    EXPECT_EQ(timeString(std::nan("")), "00:00:00,000");
    EXPECT_EQ(timeString(std::numeric_limits<double>::infinity()), "2562047788015:12:55,807");
    EXPECT_EQ(timeString(1e300), "2562047788015:12:55,807");
    EXPECT_EQ(timeString(-std::numeric_limits<double>::infinity()), "-2562047788015:-12:-55,-808");
}

TEST(SecondsToSRTTime, WorksInSinglePrecision) {
    EXPECT_EQ(secondsToSRTTime(2.3f), "00:00:02,299");
    EXPECT_EQ(secondsToSRTTime(3723.5f), "01:02:03,500");
    EXPECT_EQ(secondsToSRTTime(0.0f), "00:00:00,000");
    EXPECT_EQ(secondsToSRTTime(360000.0f), "100:00:00,000");
    EXPECT_EQ(secondsToSRTTime(std::nanf("")), "00:00:00,000");
    EXPECT_EQ(secondsToSRTTime(std::numeric_limits<float>::infinity()),
              "2562047788015215:30:07,000");
    EXPECT_EQ(secondsToSRTTime(-std::numeric_limits<float>::infinity()),
              "-2562047788015215:-30:-8,000");
    EXPECT_EQ(secondsToSRTTime(std::numeric_limits<float>::max()), "2562047788015215:30:07,000");
}

TEST(FramesToSRTTime, DividesByTheTimebase) {
    EXPECT_EQ(framesToSRTTime(7, 25), "00:00:00,280");
    EXPECT_EQ(framesToSRTTime(29, 30), "00:00:00,966");
    EXPECT_EQ(framesToSRTTime(90000, 25), "01:00:00,000");
    EXPECT_EQ(framesToSRTTime(1001, 29.97), "00:00:33,400");
}

TEST(FramesToSRTTime, ZeroOrBrokenTimebaseDoesNotCrash) {
    EXPECT_EQ(framesToSRTTime(0, 0), "00:00:00,000");
    EXPECT_EQ(framesToSRTTime(10, 0), "2562047788015215:30:07,000");
    EXPECT_EQ(framesToSRTTime(-10, 0), "-2562047788015215:-30:-8,000");
    EXPECT_EQ(framesToSRTTime(10, std::nan("")), "00:00:00,000");
    EXPECT_EQ(framesToSRTTime(std::numeric_limits<int64_t>::max(), 1e-300),
              "2562047788015215:30:07,000");
}

TEST(ParseTimeRange, ReadsTheSecondLine) {
    auto range = parseTimeRange("1\n00:00:01,000 --> 00:00:02,500\nHi");
    ASSERT_TRUE(range);
    EXPECT_DOUBLE_EQ(range->startTime, 1.0);
    EXPECT_DOUBLE_EQ(range->endTime, 2.5);
    // Spaces and tabs around the times are trimmed.
    EXPECT_TRUE(parseTimeRange("1\n\t00:00:01,000  -->  00:00:02,000 \nHi"));
    EXPECT_FALSE(parseTimeRange("1"));
    EXPECT_FALSE(parseTimeRange("1\n00:00:01,000-->00:00:02,000\nHi"));
    EXPECT_FALSE(parseTimeRange("1\n00:00:01,000 --> 00:00:02,000 --> 00:00:03,000\nHi"));
    EXPECT_FALSE(parseTimeRange("1\n00:00:01.000 --> 00:00:02,000\nHi"));
    EXPECT_FALSE(parseTimeRange("\n1\n00:00:01,000 --> 00:00:02,000\nHi"));
}

TEST(UpdateBlockEndTime, ReplacesOnlyTheEnd) {
    EXPECT_EQ(updateBlockEndTime("1\n 00:00:01,000 --> 00:00:02,000\nHi", "00:00:09,000"),
              "1\n 00:00:01,000 --> 00:00:09,000\nHi");
    // Other newline characters in the block come back as line feeds.
    EXPECT_EQ(updateBlockEndTime("1\n00:00:01,000 --> 00:00:02,000\rHi\u2028there", "X"),
              "1\n00:00:01,000 --> X\nHi\nthere");
    // "\r\n" is two line ends, so the time range is not on the second line.
    EXPECT_EQ(updateBlockEndTime("1\r\n00:00:01,000 --> 00:00:02,000", "X"),
              "1\r\n00:00:01,000 --> 00:00:02,000");
    EXPECT_EQ(updateBlockEndTime("1\n00:00:01,000->00:00:02,000\nHi", "X"),
              "1\n00:00:01,000->00:00:02,000\nHi");
    EXPECT_EQ(updateBlockEndTime("only", "X"), "only");
}

TEST(AdjustTimeGaps, ClosesGapsBelowTheFrameLimit) {
    const std::string shortGap =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:02,300 --> 00:00:03,000\nB";
    EXPECT_EQ(adjustTimeGaps(shortGap, 10),
              "1\n00:00:01,000 --> 00:00:02,300\nA\n\n2\n00:00:02,300 --> 00:00:03,000\nB");

    const std::string longGap =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:02,500 --> 00:00:03,000\nB";
    EXPECT_EQ(adjustTimeGaps(longGap, 10), longGap);

    // 2.4 - 2.0 is just below 0.4 in double precision.
    const std::string nominalLimit =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:02,400 --> 00:00:03,000\nB";
    EXPECT_EQ(adjustTimeGaps(nominalLimit, 10),
              "1\n00:00:01,000 --> 00:00:02,400\nA\n\n2\n00:00:02,400 --> 00:00:03,000\nB");

    // An overlap is cut back to the next start.
    const std::string overlap =
        "1\n00:00:01,000 --> 00:00:05,000\nA\n\n2\n00:00:04,000 --> 00:00:06,000\nB";
    EXPECT_EQ(adjustTimeGaps(overlap, 10),
              "1\n00:00:01,000 --> 00:00:04,000\nA\n\n2\n00:00:04,000 --> 00:00:06,000\nB");
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
    // Gap limit in frames at a fixed 25 per second; NaN closes nothing.
    const std::string gap = "1\n0:0:1,0 --> 0:0:2,0\nA\n\n2\n0:0:3,0 --> 0:0:4,0\nB";
    EXPECT_EQ(adjustTimeGaps(gap, 26),
              "1\n0:0:1,0 --> 00:00:03,000\nA\n\n2\n0:0:3,0 --> 0:0:4,0\nB");
    EXPECT_EQ(adjustTimeGaps(gap, 25), gap);
    EXPECT_EQ(adjustTimeGaps(gap, std::nan("")), gap);
}

TEST(AdjustTimeGaps, ChainsThroughEveryBlockButTheLast) {
    const std::string text =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n"
        "2\n00:00:02,100 --> 00:00:03,000\nB\n\n"
        "x\nnot a time\nC\n\n"
        "4\n00:00:05,000 --> 00:00:05,500\nD\n\n"
        "5\n00:00:05,600 --> 00:00:07,000\nE";
    EXPECT_EQ(adjustTimeGaps(text, 10),
              "1\n00:00:01,000 --> 00:00:02,100\nA\n\n"
              "2\n00:00:02,100 --> 00:00:03,000\nB\n\n"
              "x\nnot a time\nC\n\n"
              "4\n00:00:05,000 --> 00:00:05,600\nD\n\n"
              "5\n00:00:05,600 --> 00:00:07,000\nE");
}

}  // namespace
}  // namespace quillora
