#include "subtitles/srt_parser.h"

#include "platform/console.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

const std::string kTwoCues =
    "1\n00:00:01,000 --> 00:00:02,500\nHello\nworld\n\n"
    "2\n00:01:02,250 --> 01:00:00,000\nSecond\n";

TEST(SRTParserParse, ReadsBlocksInFileOrder) {
    auto subtitles = SRTParser().parse(kTwoCues);
    ASSERT_EQ(subtitles.size(), 2u);
    EXPECT_EQ(subtitles[0], (Subtitle{1, 1.0, 2.5, "Hello world"}));
    EXPECT_EQ(subtitles[1], (Subtitle{2, 62.25, 3600.0, "Second"}));
}

TEST(SRTParserParse, LenientIndexAndTimes) {
    auto subtitles = SRTParser().parse("x\n00:00:01,000 --> 00:00:02,500\nHi");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_EQ(subtitles[0], (Subtitle{0, 1.0, 2.5, "Hi"}));

    // Two ":" pieces read as 0 but the block is kept; the full stop is not a separator here.
    subtitles = SRTParser().parse("+7\n00:01,000 --> 00:00:02.5\nHi");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_EQ(subtitles[0], (Subtitle{7, 0.0, 2.5, "Hi"}));

    // Unreadable terms count as 0; the pieces are not trimmed.
    subtitles = SRTParser().parse("1\naa:01:02,500 --> 00:00: 3,x\nHi");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(subtitles[0].startTime, 62.5);
    EXPECT_DOUBLE_EQ(subtitles[0].endTime, 0.0);

    // Decimal pieces are read as numbers; "1,5" milliseconds is 5 ms.
    subtitles = SRTParser().parse("1\n0.5:0:0,5 --> 0:0:1\nHi");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(subtitles[0].startTime, 1800.005);
    EXPECT_DOUBLE_EQ(subtitles[0].endTime, 1.0);
}

TEST(SRTParserParse, SkipsMalformedBlocks) {
    const std::string text =
        "1\n00:00:01,000-->00:00:02,000\nNo blanks\n\n"
        "2\n00:00:03,000 --> 00:00:04,000\n\n"
        "3\n00:00:05,000 --> 00:00:06,000 --> 00:00:07,000\nThree pieces\n\n"
        "4\n00:00:08,000 --> 00:00:09,000\nKept";
    auto subtitles = SRTParser().parse(text);
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_EQ(subtitles[0].index, 4);
    EXPECT_TRUE(SRTParser().parse("").empty());
    EXPECT_TRUE(SRTParser().parse("\n\n\n\n").empty());
}

TEST(SRTParserParse, AcceptsWindowsLineEnds) {
    auto subtitles = SRTParser().parse(
        "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\nB\r\n\r\n2\r\n00:00:03,000 --> "
        "00:00:04,000\r\nC\r\n");
    ASSERT_EQ(subtitles.size(), 2u);
    EXPECT_EQ(subtitles[0].text, "A B");
    EXPECT_EQ(subtitles[1], (Subtitle{2, 3.0, 4.0, "C"}));
}

TEST(SRTParserMerageText, PutsTheExtraLineFirstAndRenumbers) {
    ConsoleCapture capture;
    const std::string srt =
        "5\n00:00:01,000 --> 00:00:02,000\nHello\n\n9\n00:00:03,000 --> 00:00:04,500\nBye\n";
    EXPECT_EQ(SRTParser().merageText(srt, "Ann:\n\nBob:"),
              "1\n00:00:01,000 --> 00:00:02,000\nAnn:\nHello\n\n"
              "2\n00:00:03,000 --> 00:00:04,500\nBob:\nBye\n\n");
    EXPECT_TRUE(capture.lines().empty());
}

TEST(SRTParserMerageText, CountMismatchReturnsTheInput) {
    ConsoleCapture capture;
    const std::string srt =
        "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n\n"
        "3\n00:00:05,000 --> 00:00:06,000\nC\n";
    EXPECT_EQ(SRTParser().merageText(srt, "x\ny"), srt);
    EXPECT_TRUE(capture.contains("Error: Subtitle count (3) doesn't match text lines count (2)"));
    // Empty lines in the extra text count (after one pass of "\n\n" -> "\n").
    capture.clear();
    EXPECT_EQ(SRTParser().merageText(srt, "x\n\n\n\ny\nz"), srt);
    EXPECT_TRUE(capture.contains("Error: Subtitle count (3) doesn't match text lines count (4)"));
}

TEST(ReadSrtOf, ReadsItemsWithSinglePrecisionTimes) {
    TempDir dir;
    writeTestFile(dir / "a.srt",
                  "1\n00:00:01,000 --> 00:00:02.300\n<b>Hello</b>\n\n"
                  "x\n\t00:00:03,000 -->  00:00:04,000 \nOne\nTwo\nThree\n");
    auto items = readsrtof(dir / "a.srt");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (SubtitleItem{1, 1.0f, 2.3f, "Hello", "Hello", ""}));
    EXPECT_EQ(items[1], (SubtitleItem{2, 3.0f, 4.0f, "One\nTwo\nThree", "One", "Two\nThree"}));
}

TEST(ReadSrtOf, SkipsBlocksItCannotTime) {
    auto items = parseSubtitleItems(
        "1\n00:01,000 --> 00:00:02,000\nTwo pieces\n\n"
        "2\n00:00:01,000-->00:00:02,000\nNo blanks\n\n"
        "3\n00:00:03,000 --> 00:00:04,000\n\n"
        "x\naa:bb:cc --> 00:00:05\nUnreadable terms are 0\n");
    ASSERT_EQ(items.size(), 1u);
    // The row index falls back to the block's position among all blocks, skipped ones included.
    EXPECT_EQ(items[0].rowIndex, 4);
    EXPECT_EQ(items[0].start, 0.0f);
    EXPECT_EQ(items[0].end, 5.0f);
    EXPECT_EQ(items[0].text, "Unreadable terms are 0");
}

TEST(ReadSrtOf, WindowsLineEndsSeparateBlocks) {
    TempDir dir;
    writeTestFile(dir / "crlf.srt",
                  "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\nB\r\n\r\n"
                  "2\r\n00:00:03,000 --> 00:00:04,000\r\nC\r\n");
    auto items = readsrtof(dir / "crlf.srt");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (SubtitleItem{1, 1.0f, 2.0f, "A\nB", "A", "B"}));
    EXPECT_EQ(items[1], (SubtitleItem{2, 3.0f, 4.0f, "C", "C", ""}));
}

TEST(ReadSrtOf, FallsBackThroughEncodings) {
    TempDir dir;
    const std::string plain = "1\n00:00:01,000 --> 00:00:02,000\n";
    // UTF-16 little-endian with a byte-order mark, a non-BMP character included.
    std::u16string wide = u"1\n00:00:01,000 --> 00:00:02,000\n你好 🎬\n";
    std::string utf16le = "\xFF\xFE";
    for (char16_t unit : wide) {
        utf16le.push_back(static_cast<char>(unit & 0xFF));
        utf16le.push_back(static_cast<char>(unit >> 8));
    }
    writeTestFile(dir / "wide.srt", utf16le);
    auto items = readsrtof(dir / "wide.srt");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "你好 🎬");

    // Big-endian without a mark is recognised by its NUL bytes.
    std::string utf16be;
    for (char16_t unit : wide) {
        utf16be.push_back(static_cast<char>(unit >> 8));
        utf16be.push_back(static_cast<char>(unit & 0xFF));
    }
    items = readsrtofBytes(utf16be);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "你好 🎬");

    // Windows-1252: curly quotes, euro sign and é are single bytes there.
    writeTestFile(dir / "cp1252.srt", plain +
                                          "\x93"
                                          "Caf\xE9\x94 \x80"
                                          "5\n");
    items = readsrtof(dir / "cp1252.srt");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "“Café” €5");

    // 0x81 is undefined in code page 1252; it does not cost the rest of the file its quotes.
    items = readsrtofBytes(plain +
                           "\x93"
                           "a\x81\xE9");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "“a\u0081é");

    // A UTF-8 byte-order mark does not hide the first index.
    items = readsrtofBytes(
        "\xEF\xBB\xBF"
        "7\n00:00:01,000 --> 00:00:02,000\nA\n");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].rowIndex, 7);
}

TEST(ReadSrtOf, UnreadableOrEmptyFilesGiveNothing) {
    TempDir dir;
    EXPECT_TRUE(readsrtof(dir / "missing.srt").empty());
    EXPECT_TRUE(readsrtof(dir.path()).empty());
    writeTestFile(dir / "empty.srt", "");
    EXPECT_TRUE(readsrtof(dir / "empty.srt").empty());
    EXPECT_TRUE(readsrtofBytes("\xFF\xFE").empty());
    EXPECT_TRUE(readsrtofBytes("no subtitles here").empty());
}

TEST(DecodeSubtitleText, TriesEncodingsInOrder) {
    EXPECT_EQ(decodeSubtitleText("plain"), "plain");
    EXPECT_EQ(decodeSubtitleText("\xE4\xBD\xA0"), "你");
    // Odd length with NULs fails UTF-16 and ASCII, so code page 1252 reads it.
    EXPECT_EQ(decodeSubtitleText(std::string("a\0\x80", 3)), std::string("a\0€", 5));
    // A lone surrogate is not UTF-16.
    EXPECT_EQ(decodeSubtitleText(std::string("\xFF\xFE\x00\xD8", 4)), std::string("ÿþ\0Ø", 7));
}

}  // namespace
}  // namespace quillora
