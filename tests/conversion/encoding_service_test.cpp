#include <gtest/gtest.h>

#include <functional>

#include "conversion/encoding_service.h"
#include "platform/files.h"
#include "support/temp_home.h"
#include "text/encoding_detection.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;

// The answer, or the description of the failure.
std::string outcome(const std::function<std::string()>& action) {
    try {
        return action();
    } catch (const EncodingError& error) {
        return error.description();
    }
}

TEST(EncodingService, StandInToolAnswersAndFailuresReachTheUserAsTheirTexts) {
    testing::TempDir dir;
    testing::StandInPrograms programs;
    testing::writeTestFile(dir / "a.txt", "plain words");
    const EncodingService service;
    const std::pair<std::string, std::string> detectors[] = {
        // the stand-in uchardet's script, and what detection then gives
        {"printf 'Big5\\n'", "BIG5"},
        {"echo KOI8-R", "KOI8-R"},
        {"echo Shift_JIS", "SHIFT-JIS"},
        {"echo SHIFT_JIS", "SHIFT_JIS"},  // Debian's spelling, which iconv takes as it is
        {"echo unknown", "ASCII"},
        {"printf 'cannot open' >&2; exit 1", "编码检测失败: cannot open"},
        {"printf '\\377\\376' >&2", "编码检测失败: 未知错误"},
    };
    for (const auto& [script, expected] : detectors) {
        programs.add("uchardet", script + "\n");
        EXPECT_EQ(outcome([&] { return service.detectEncoding(dir / "a.txt"); }), expected)
            << script;
    }
    EXPECT_EQ(outcome([&] { return service.detectEncoding(dir / "gone.txt"); }), "文件未找到");

    const std::pair<std::string, std::string> converters[] = {
        {"exit 1", "编码转换失败: "},
        {"echo 'iconv: illegal input sequence at position 3' >&2; exit 1",
         "编码转换失败: iconv: illegal input sequence at position 3"},
        {"exit 0", "编码转换失败: 输出文件未创建"},
    };
    for (const auto& [script, expected] : converters) {
        programs.add("iconv", script + "\n");
        EXPECT_EQ(outcome([&] {
                      service.convertToUTF8(dir / "a.txt", dir / "out.txt", "GB18030");
                      return std::string("converted");
                  }),
                  expected)
            << script;
    }
}

TEST(EncodingService, SizeLimitAcceptsExactlyTenMegabytes) {
    testing::TempDir dir;
    const EncodingService service;
    testing::writeTestFile(dir / "limit.txt", std::string(EncodingService::kMaxFileSize, 'a'));
    testing::writeTestFile(dir / "over.txt", std::string(EncodingService::kMaxFileSize + 1, 'a'));
    EXPECT_EQ(outcome([&] { return service.detectEncoding(dir / "limit.txt"); }), "ASCII");
    EXPECT_EQ(outcome([&] { return service.detectEncoding(dir / "over.txt"); }),
              "文件过大(超过10MB)，请选择较小文件");
}

// Real uchardet and iconv on the short files producers have.
TEST(EncodingService, ShortEastAsianTextsConvertToTheirOriginalText) {
    testing::TempDir dir;
    const EncodingService service;
    const std::string chinese = "今天我們去公園散步，天氣非常好。";
    struct Case {
        std::string name, text, encoding;
        std::string bom;
    };
    // Bare uchardet reads most of these as a Western code page, "unknown" or UTF-8.
    const Case cases[] = {
        {"big5, mostly ascii", "OK 好的 走吧", "BIG5", ""},
        {"big5", chinese, "BIG5", ""},
        {"gbk, traditional characters", "好的，沒問題。", "GBK", ""},
        {"gbk, mostly ascii", "Episode 1 第一集 我愛你", "GBK", ""},
        {"gb18030 srt", "1\n00:00:01,000 --> 00:00:03,000\n你好嗎？\n\n", "GB18030", ""},
        {"shift_jis", "今天天气很好", "SHIFT_JIS", ""},
        {"euc-kr", "내일 날씨입니다. 전국이 대체로 맑겠습니다.", "EUC-KR", ""},
        {"utf-16le", "字幕文件 subtitle", "UTF-16LE", ""},
        {"utf-16be with bom", "字幕文件", "UTF-16BE", "\xFE\xFF"},
        {"utf-8", "Señoras y señores, bienvenidos a bordo. Les informamos que el vuelo", "UTF-8",
         ""},
        {"windows-1252", "Café “naïve” résumé — déjà vu", "WINDOWS-1252", ""},
    };
    for (const Case& c : cases) {
        std::string bytes;
        {
            // Encode with iconv's own tables through a round trip file.
            testing::writeTestFile(dir / "in.txt", c.text);
            ASSERT_EQ(
                std::system(("iconv -f UTF-8 -t " + c.encoding + " '" + (dir / "in.txt").string() +
                             "' > '" + (dir / "raw").string() + "'")
                                .c_str()),
                0)
                << c.name;
            bytes = c.bom + readFile(dir / "raw");
        }
        testing::writeTestFile(dir / "sample.txt", bytes);
        const std::string detected = service.detectEncoding(dir / "sample.txt");
        service.convertToUTF8(dir / "sample.txt", dir / "utf8.txt", detected);
        std::string text = readFile(dir / "utf8.txt");
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
        EXPECT_EQ(text, c.text) << c.name << " read as " << detected;
    }
}

TEST(EncodingService, EveryNameTheDetectorPrintsIsOneIconvTakes) {
    // The names Debian's uchardet can print, through the name table and the mending of
    // answers iconv cannot use.
    const char* names[] = {"ASCII",        "UTF-8",        "UTF-16",       "UTF-32",
                           "BIG5",         "EUC-KR",       "EUC-TW",       "GB18030",
                           "HZ-GB-2312",   "IBM852",       "IBM855",       "IBM866",
                           "ISO-2022-CN",  "ISO-2022-JP",  "ISO-2022-KR",  "ISO-8859-1",
                           "ISO-8859-2",   "ISO-8859-3",   "ISO-8859-4",   "ISO-8859-5",
                           "ISO-8859-6",   "ISO-8859-9",   "ISO-8859-10",  "ISO-8859-13",
                           "ISO-8859-15",  "ISO-8859-16",  "KOI8-R",       "MAC-CENTRALEUROPE",
                           "MAC-CYRILLIC", "SHIFT_JIS",    "TIS-620",      "UHC",
                           "VISCII",       "WINDOWS-1250", "WINDOWS-1251", "WINDOWS-1252",
                           "WINDOWS-1253", "WINDOWS-1255", "WINDOWS-1256", "WINDOWS-1257",
                           "WINDOWS-1258", "unknown"};
    testing::TempDir dir;
    testing::writeTestFile(dir / "empty.txt", "");  // iconv still refuses a name it lacks
    for (const char* name : names) {
        const std::string used = EncodingService::mapEncodingToIconv(
            EncodingService::mendDetectorAnswer(name, "plain text\n"));
        EXPECT_EQ(std::system(("iconv -f '" + used + "' -t UTF-8//TRANSLIT '" +
                               (dir / "empty.txt").string() + "' >/dev/null 2>&1")
                                  .c_str()),
                  0)
            << name << " → " << used;
    }
}

}  // namespace
}  // namespace quillora
