#include "subtitles/fcpxml_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/console.h"
#include "platform/preferences.h"
#include "subtitles/text_file.h"
#include "xml_check.h"

namespace quillora {
namespace {

using testing::golden;
using testing::goldenPath;
using ::testing::HasSubstr;
using testing::isWellFormedXml;
using ::testing::Not;
using testing::TempDir;
using testing::writeTestFile;

FcpxmlStamps fixedStamps() {
    auto counter = std::make_shared<int>(0);
    return FcpxmlStamps{[] { return std::string("2024-03-01 09:30:00 +0800"); },
                        [counter] {
                            return ++*counter == 1
                                       ? std::string("11111111-2222-4333-8444-555555555555")
                                       : std::string("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
                        }};
}

std::string convert(std::string_view srt, const FcpxmlSettings& settings = {}) {
    return buildFcpxml(srt, "P", settings, fixedStamps()).document;
}

FcpxmlSettings with(std::string FcpxmlSettings::*field, std::string value) {
    FcpxmlSettings settings;
    settings.*field = std::move(value);
    return settings;
}

const std::string kOneCue = "1\n00:00:01,500 --> 00:00:03,000\nHello\n";

TEST(FcpxmlWriter, FrameRateSetsFormatAndTimescale) {
    FcpxmlSettings settings = with(&FcpxmlSettings::fps, "50");
    EXPECT_THAT(convert(kOneCue, settings),
                HasSubstr("name=\"FFVideoFormat1920x1080p50\" frameDuration=\"100/5000s\""));
    EXPECT_THAT(convert(kOneCue, settings), HasSubstr("offset=\"7500/5000s\""));
    settings.selectedFrame = "3840X2160";
    EXPECT_THAT(convert(kOneCue, settings), HasSubstr("FFVideoFormat3840x2160p50"));

    // NTSC rates: frames of 1001/N seconds, times as whole frames of them (1.5 s is frame 44 at
    // 29.97).
    const struct {
        const char* fps;
        const char* format;
        const char* offset;
    } ntsc[] = {
        {"23.976", "p2398\" frameDuration=\"1001/24000s\"", "offset=\"35035/24000s\""},
        {"23.98", "p2398\" frameDuration=\"1001/24000s\"", "offset=\"35035/24000s\""},
        {"29.97", "p2997\" frameDuration=\"1001/30000s\"", "offset=\"44044/30000s\""},
        {"59.94", "p5994\" frameDuration=\"1001/60000s\"", "offset=\"89089/60000s\""},
    };
    for (const auto& rate : ntsc) {
        const std::string document = convert(kOneCue, with(&FcpxmlSettings::fps, rate.fps));
        EXPECT_THAT(document, HasSubstr(rate.format)) << rate.fps;
        EXPECT_THAT(document, HasSubstr(rate.offset)) << rate.fps;
    }
}

TEST(FcpxmlWriter, StrokeTrackingPositionAndScale) {
    // The leading number of the line width decides; the stored text is written as it is.
    const std::vector<std::pair<std::string, std::string>> strokes = {
        {"0", "strokeColor=\"0 0 0 1\"  shadowColor"},
        {"2", "strokeColor=\"0 0 0 1\" strokeWidth=\"-2\" shadowColor"},
        {"3px", "strokeWidth=\"-3px\""}};
    for (const auto& [width, expected] : strokes)
        EXPECT_THAT(convert(kOneCue, with(&FcpxmlSettings::lineWidth, width)), HasSubstr(expected));
    EXPECT_THAT(convert(kOneCue, with(&FcpxmlSettings::lineWidth, "-1")),
                Not(HasSubstr("strokeWidth")));

    const std::string trackingKey = "key=\"9999/999166631/999166633/5/999166635/81/79\" value=";
    for (const auto& [distance, value] : std::vector<std::pair<std::string, std::string>>{
             {"10", "\"0.10\"/>"}, {"abc", "\"0.00\"/>"}, {"-250", "\"-2.50\"/>"}}) {
        EXPECT_THAT(convert(kOneCue, with(&FcpxmlSettings::charDistance, distance)),
                    HasSubstr(trackingKey + value));
    }

    EXPECT_THAT(convert(kOneCue), HasSubstr("value=\"0 -478\"></param>"));
    FcpxmlSettings settings;
    settings.py = "-10";
    settings.px = "12";
    settings.selectedSx = "1.5";
    const std::string document = convert(kOneCue, settings);
    EXPECT_THAT(document, HasSubstr("value=\"12 --10\"></param>"));
    EXPECT_THAT(document, HasSubstr("value=\"1.5 1.0\"/>"));
}

TEST(FcpxmlWriter, StopsOnFrameRateSizeAndEmptyOrHugeSrt) {
    auto stopOf = [](std::string_view srt, const FcpxmlSettings& settings) {
        try {
            convert(srt, settings);
        } catch (const FcpxmlStop& stop) {
            return std::optional<FcpxmlStop>(stop);
        }
        return std::optional<FcpxmlStop>();
    };
    for (const char* fps : {"24.5", "0", "-25", "", "25 ", "abc"}) {
        const auto stop = stopOf(kOneCue, with(&FcpxmlSettings::fps, fps));
        ASSERT_TRUE(stop) << fps;
        EXPECT_EQ(stop->kind(), FcpxmlStop::Kind::invalidFps);
        EXPECT_EQ(stop->screenText(), "Error: Invalid FPS value");
        EXPECT_EQ(stop->consoleLine(), std::string("   ❌ 错误: 无效的 FPS 值 (") + fps + ")");
    }
    const auto empty = stopOf("not an srt", {});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->kind(), FcpxmlStop::Kind::noSubtitles);
    EXPECT_EQ(empty->screenText(), "Error: No valid subtitles found in SRT");
    EXPECT_EQ(empty->consoleLine(), "   ❌ 错误: 未找到有效的字幕");
    EXPECT_TRUE(stopOf(kOneCue, with(&FcpxmlSettings::selectedFrame, "1920x1080")));
    // A time whose frame count cannot be written stops instead of overflowing.
    EXPECT_TRUE(stopOf("1\n99999999999999:00:00,000 --> 99999999999999:00:01,000\nA\n", {}));
}

TEST(FcpxmlWriter, EscapesWhatXmlReserves) {
    FcpxmlSettings settings = with(&FcpxmlSettings::fontName, "A&B \"Sans\"");
    settings.px = "<1>";
    const std::string srt =
        "1\n00:00:01,000 --> 00:00:02,000\nTom & Jerry <b>bold</b> \x01 tsstrokevalue {text}\n\n"
        "2\n00:00:02,000 --> 00:00:03,000\nbad \xFF byte\n";
    const std::string document = buildFcpxml(srt, "R&D <cut>", settings, fixedStamps()).document;
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_THAT(document,
                HasSubstr(">Tom  &amp;  Jerry  &lt;b&gt;bold&lt;/b&gt;    tsstrokevalue  {text}<"));
    EXPECT_THAT(document, HasSubstr("font=\"A&amp;B &quot;Sans&quot;\""));
    EXPECT_THAT(document, HasSubstr("value=\"&lt;1&gt; -478\""));
    EXPECT_THAT(document, HasSubstr("<project name=\"R&amp;D &lt;cut&gt;\""));
    EXPECT_THAT(document, HasSubstr(">bad  \uFFFD  byte<"));
}

TEST(FcpxmlWriter, MatchesGoldenDocument) {
    const std::string srt = readFile(goldenPath("sample.srt"));
    const FcpxmlConversion conversion = buildFcpxml(srt, "sample", {}, fixedStamps());
    const std::string& document = conversion.document;
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_EQ(document, golden("sample.fcpxml", document));
    // What the golden file must keep showing: frames are truncated (1.5 s at 25 is frame 37),
    // the sequence ends at the last end, each title has its own style, quotation marks leave
    // the title's name and blanks double in its text.
    EXPECT_THAT(document, HasSubstr("offset=\"3700/2500s\" ref=\"r2\" duration=\"3700/2500s\""));
    EXPECT_EQ(conversion.sequenceDuration, "30900/2500s");
    EXPECT_THAT(document, HasSubstr("<gap name=\"空隙\" offset=\"0s\" duration=\"30900/2500s\""));
    EXPECT_THAT(document, HasSubstr("<title name=\"Hello world &amp; &lt;friends&gt;\""));
    EXPECT_THAT(document, HasSubstr("<text-style ref=\"ts2\">“你好”  世界</text-style>"));
}

TEST(FcpxmlWriter, DateFormatUsesLocalZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    ::setenv("TZ", "Asia/Shanghai", 1);
    ::tzset();
    EXPECT_EQ(formatFcpxmlDate(std::chrono::system_clock::from_time_t(86400 + 3661)),
              "1970-01-02 09:01:01 +0800");
    saved ? ::setenv("TZ", previous.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

TEST(FcpxmlSettingsStore, ReadsStoredValuesAndDefaults) {
    testing::TempHome home;
    Preferences preferences(home.configHome() / "preferences.json");
    EXPECT_EQ(FcpxmlSettings::load(preferences), FcpxmlSettings{});
    preferences.setText("srt_fps", "50");
    preferences.setText("srt_selectedFrame", "3840X2160");
    FcpxmlSettings settings = FcpxmlSettings::load(preferences);
    EXPECT_EQ(settings.fps, "50");
    EXPECT_EQ(settings.selectedFrame, "3840X2160");
    EXPECT_EQ(settings.fontName, "Hei");
    // The font name and the font menu's choice are stored apart.
    settings.fontName = "PingFang SC";
    settings.save(preferences);
    EXPECT_EQ(preferences.text("srt_fontname"), "PingFang SC");
    EXPECT_EQ(preferences.text("srt_selectedfont"), "Hei");
    EXPECT_EQ(FcpxmlSettings::load(preferences), settings);
}

TEST(SrttoFcpxmlScreen, ConvertsOrShowsTheStop) {
    SrttoFcpxmlModel model;
    EXPECT_EQ(model.projectName, "My Project");
    EXPECT_EQ(model.sequenceDuration, "2216200/5000s");
    model.srtText = kOneCue;
    model.convertSRTtoFCPXML({}, fixedStamps());
    EXPECT_EQ(model.sequenceDuration, "7600/2500s");
    EXPECT_THAT(model.fcpxmlText, HasSubstr("<project name=\"My Project\""));
    model.convertSRTtoFCPXML(with(&FcpxmlSettings::fps, "0"), fixedStamps());
    EXPECT_EQ(model.fcpxmlText, "Error: Invalid FPS value");
    EXPECT_EQ(model.sequenceDuration, "7600/2500s");

    TempDir dir;
    writeTestFile(dir / "ep01.srt", kOneCue);
    ASSERT_TRUE(model.openSrtFile(dir / "ep01.srt"));
    EXPECT_EQ(model.projectName, "ep01");
    EXPECT_EQ(model.suggestedFileName(), "ep01.fcpxml");
    ConsoleCapture console;
    writeTestFile(dir / "latin.srt", "caf\xE9");
    EXPECT_FALSE(model.openSrtFile(dir / "latin.srt"));
    EXPECT_EQ(model.projectName, "ep01");
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0].rfind("Error reading file: ", 0), 0u);
}

TEST(FcpxmlFileConversion, WritesBesideTheSrtWithTheStoredSettings) {
    TempDir dir;
    writeTestFile(dir / "talk.srt", kOneCue);
    const auto output = convertSRTtoFCPXMLPublic(dir / "talk.srt", {}, fixedStamps());
    EXPECT_EQ(output, dir / "talk.fcpxml");
    const std::string document = readFile(output);
    EXPECT_THAT(document, HasSubstr("file:///Users/apple/Movies/talk.fcpbundle"));
    EXPECT_EQ(document.rfind("</fcpxml>"), document.size() - 9);
    EXPECT_EQ(std::system(("xmllint --noout '" + output.string() + "' 2>/dev/null").c_str()), 0);

    testing::TempHome home;
    Preferences(home.configHome() / "quillora/preferences.json").setText("srt_fps", "50");
    EXPECT_THAT(readFile(convertSRTtoFCPXMLPublic(dir / "talk.srt")),
                HasSubstr("FFVideoFormat1920x1080p50"));
}

TEST(FcpxmlFileConversion, FailuresWriteNothing) {
    TempDir dir;
    ConsoleCapture console;
    writeTestFile(dir / "empty.srt", "");
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "empty.srt", {}, fixedStamps()), FcpxmlStop);
    EXPECT_TRUE(console.contains("   ❌ 错误: 未找到有效的字幕"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.fcpxml"));

    writeTestFile(dir / "utf16.srt", std::string("\xFF\xFE\x31\0", 4));
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "utf16.srt", {}, fixedStamps()), TextFileError);
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "missing.srt", {}, fixedStamps()), TextFileError);
    EXPECT_FALSE(std::filesystem::exists(dir / "utf16.fcpxml"));

    // The output place is taken by a folder: the write fails and is reported.
    writeTestFile(dir / "a.srt", kOneCue);
    std::filesystem::create_directory(dir / "a.fcpxml");
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "a.srt", {}, fixedStamps()), TextFileError);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "a.fcpxml"));
}

}  // namespace
}  // namespace quillora
