#include "subtitles/srt_parser.h"

#include "platform/console.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

// The one subtitle SRTParser reads from `srt`.
Subtitle onlySubtitle(const std::string& srt) {
    const auto subtitles = SRTParser().parse(srt);
    EXPECT_EQ(subtitles.size(), 1u) << srt;
    return subtitles.empty() ? Subtitle{} : subtitles[0];
}

// The one item readsrtof reads from `bytes`.
SubtitleItem onlyItem(const std::string& bytes) {
    const auto items = readsrtofBytes(bytes);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? SubtitleItem{} : items[0];
}

std::string utf16(std::u16string_view text, bool littleEndian, bool byteOrderMark) {
    std::string bytes = byteOrderMark ? "\xFF\xFE" : "";
    for (char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += littleEndian ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

TEST(SRTParserParse, ReadsBlocksInFileOrderLeniently) {
    auto subtitles = SRTParser().parse(
        "1\n00:00:01,000 --> 00:00:02,500\nHello\nworld\n\n"
        "2\n00:01:02,250 --> 01:00:00,000\nSecond\n");
    ASSERT_EQ(subtitles.size(), 2u);
    EXPECT_EQ(subtitles[0], (Subtitle{1, 1.0, 2.5, "Hello world"}));
    EXPECT_EQ(subtitles[1], (Subtitle{2, 62.25, 3600.0, "Second"}));

    EXPECT_EQ(onlySubtitle("x\n00:00:01,000 --> 00:00:02,500\nHi"), (Subtitle{0, 1.0, 2.5, "Hi"}));
    // Two ":" pieces read as 0 but the block is kept; the full stop is not a separator here.
    EXPECT_EQ(onlySubtitle("+7\n00:01,000 --> 00:00:02.5\nHi"), (Subtitle{7, 0.0, 2.5, "Hi"}));
    // Unreadable terms count as 0; the pieces are not trimmed.
    const Subtitle unreadable = onlySubtitle("1\naa:01:02,500 --> 00:00: 3,x\nHi");
    EXPECT_DOUBLE_EQ(unreadable.startTime, 62.5);
    EXPECT_DOUBLE_EQ(unreadable.endTime, 0.0);
    // Decimal pieces are read as numbers; "1,5" milliseconds is 5 ms.
    const Subtitle decimal = onlySubtitle("1\n0.5:0:0,5 --> 0:0:1\nHi");
    EXPECT_DOUBLE_EQ(decimal.startTime, 1800.005);
    EXPECT_DOUBLE_EQ(decimal.endTime, 1.0);
}

TEST(SRTParserParse, SkipsMalformedBlocks) {
    EXPECT_EQ(onlySubtitle("1\n00:00:01,000-->00:00:02,000\nNo blanks\n\n"
                           "2\n00:00:03,000 --> 00:00:04,000\n\n"
                           "3\n00:00:05,000 --> 00:00:06,000 --> 00:00:07,000\nThree pieces\n\n"
                           "4\n00:00:08,000 --> 00:00:09,000\nKept")
                  .index,
              4);
    EXPECT_TRUE(SRTParser().parse("").empty());
    EXPECT_TRUE(SRTParser().parse("\n\n\n\n").empty());
}

TEST(SrtReaders, BothAcceptWindowsLineEnds) {
    const std::string crlf =
        "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\nB\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000\r\nC\r\n";
    auto subtitles = SRTParser().parse(crlf);
    ASSERT_EQ(subtitles.size(), 2u);
    EXPECT_EQ(subtitles[0].text, "A B");
    EXPECT_EQ(subtitles[1], (Subtitle{2, 3.0, 4.0, "C"}));

    TempDir dir;
    writeTestFile(dir / "crlf.srt", crlf);
    auto items = readsrtof(dir / "crlf.srt");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (SubtitleItem{1, 1.0f, 2.0f, "A\nB", "A", "B"}));
    EXPECT_EQ(items[1], (SubtitleItem{2, 3.0f, 4.0f, "C", "C", ""}));
}

TEST(SRTParserMerageText, PutsTheExtraLineFirstAndRenumbersOrKeepsTheInput) {
    ConsoleCapture capture;
    const std::string two =
        "5\n00:00:01,000 --> 00:00:02,000\nHello\n\n9\n00:00:03,000 --> 00:00:04,500\nBye\n";
    EXPECT_EQ(SRTParser().merageText(two, "Ann:\n\nBob:"),
              "1\n00:00:01,000 --> 00:00:02,000\nAnn:\nHello\n\n"
              "2\n00:00:03,000 --> 00:00:04,500\nBob:\nBye\n\n");
    EXPECT_TRUE(capture.lines().empty());

    const std::string three = two + "\n3\n00:00:05,000 --> 00:00:06,000\nC\n";
    EXPECT_EQ(SRTParser().merageText(three, "x\ny"), three);
    EXPECT_TRUE(capture.contains("Error: Subtitle count (3) doesn't match text lines count (2)"));
    // Empty lines in the extra text count (after one pass of "\n\n" -> "\n").
    EXPECT_EQ(SRTParser().merageText(three, "x\n\n\n\ny\nz"), three);
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

    // Untimed blocks are skipped; the row index falls back to the block's position among all.
    EXPECT_EQ(
        onlyItem("1\n00:01,000 --> 00:00:02,000\nTwo pieces\n\n"
                 "2\n00:00:01,000-->00:00:02,000\nNo blanks\n\n"
                 "3\n00:00:03,000 --> 00:00:04,000\n\n"
                 "x\naa:bb:cc --> 00:00:05\nUnreadable terms are 0\n"),
        (SubtitleItem{4, 0.0f, 5.0f, "Unreadable terms are 0", "Unreadable terms are 0", ""}));
}

TEST(ReadSrtOf, FallsBackThroughEncodings) {
    TempDir dir;
    const std::u16string wide = u"1\n00:00:01,000 --> 00:00:02,000\n你好 🎬\n";
    writeTestFile(dir / "wide.srt", utf16(wide, true, true));
    auto items = readsrtof(dir / "wide.srt");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "你好 🎬");
    // Big-endian without a mark is recognised by its NUL bytes.
    EXPECT_EQ(onlyItem(utf16(wide, false, false)).text, "你好 🎬");

    // Windows-1252: curly quotes, euro sign and é are single bytes there.
    const std::string plain = "1\n00:00:01,000 --> 00:00:02,000\n";
    writeTestFile(dir / "cp1252.srt", plain + "\x93" + "Caf\xE9\x94 \x80" + "5\n");
    items = readsrtof(dir / "cp1252.srt");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "“Café” €5");
    // 0x81 is undefined in code page 1252; it does not cost the rest of the file its quotes.
    EXPECT_EQ(onlyItem(plain + "\x93" + "a\x81\xE9").text, "“a\u0081é");
    // A UTF-8 byte-order mark does not hide the first index.
    EXPECT_EQ(onlyItem("\xEF\xBB\xBF"
                       "7\n00:00:01,000 --> 00:00:02,000\nA\n")
                  .rowIndex,
              7);

    EXPECT_EQ(decodeSubtitleText("\xE4\xBD\xA0"), "你");
    // Odd length with NULs fails UTF-16 and ASCII, so code page 1252 reads it.
    EXPECT_EQ(decodeSubtitleText(std::string("a\0\x80", 3)), std::string("a\0€", 5));
    // A lone surrogate is not UTF-16.
    EXPECT_EQ(decodeSubtitleText(std::string("\xFF\xFE\x00\xD8", 4)), std::string("ÿþ\0Ø", 7));
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

}  // namespace
}  // namespace quillora
