#include "subtitles/fcpxml_writer.h"

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
using testing::isWellFormedXml;
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

const std::string kOneCue = "1\n00:00:01,500 --> 00:00:03,000\nHello\n";

TEST(FcpxmlWriter, TruncatesFramesForOffsetDurationAndSequence) {
    const FcpxmlConversion conversion =
        buildFcpxml(kOneCue + "\n2\n00:00:08,000 --> 00:00:10,000\nEnd\n", "P", {}, fixedStamps());
    EXPECT_NE(conversion.document.find("offset=\"3700/2500s\" ref=\"r2\" duration=\"3700/2500s\""),
              std::string::npos);
    EXPECT_EQ(conversion.sequenceDuration, "25100/2500s");
    EXPECT_NE(conversion.document.find("<sequence duration=\"25100/2500s\""), std::string::npos);
    EXPECT_NE(conversion.document.find("<gap name=\"空隙\" offset=\"0s\" duration=\"25100/2500s\""),
              std::string::npos);
    EXPECT_NE(conversion.document.find("<text-style ref=\"ts2\">End</text-style>"),
              std::string::npos);
    EXPECT_NE(conversion.document.find("<text-style-def id=\"ts2\">"), std::string::npos);
}

TEST(FcpxmlWriter, FrameRateSetsFormatAndTimescale) {
    FcpxmlSettings settings;
    settings.fps = "50";
    const std::string document = convert(kOneCue, settings);
    EXPECT_NE(document.find("name=\"FFVideoFormat1920x1080p50\" frameDuration=\"100/5000s\""),
              std::string::npos);
    EXPECT_NE(document.find("offset=\"7500/5000s\""), std::string::npos);

    settings.selectedFrame = "3840X2160";
    EXPECT_NE(convert(kOneCue, settings).find("FFVideoFormat3840x2160p50"), std::string::npos);
}

TEST(FcpxmlWriter, StrokeAttributeFollowsLineWidth) {
    FcpxmlSettings settings;
    settings.lineWidth = "0";
    EXPECT_NE(convert(kOneCue, settings).find("strokeColor=\"0 0 0 1\"  shadowColor"),
              std::string::npos);
    settings.lineWidth = "2";
    const std::string document = convert(kOneCue, settings);
    EXPECT_NE(document.find("strokeColor=\"0 0 0 1\" strokeWidth=\"-2\" shadowColor"),
              std::string::npos);
    EXPECT_NE(document.find("value=\"2\"/>"), std::string::npos);
    // The leading number decides; the stored text is written as it is.
    settings.lineWidth = "3px";
    EXPECT_NE(convert(kOneCue, settings).find("strokeWidth=\"-3px\""), std::string::npos);
    settings.lineWidth = "-1";
    EXPECT_EQ(convert(kOneCue, settings).find("strokeWidth"), std::string::npos);
}

TEST(FcpxmlWriter, TrackingPositionAndScale) {
    FcpxmlSettings settings;
    settings.charDistance = "10";
    EXPECT_NE(convert(kOneCue, settings)
                  .find("key=\"9999/999166631/999166633/5/999166635/81/79\" "
                        "value=\"0.10\"/>"),
              std::string::npos);
    settings.charDistance = "abc";
    EXPECT_NE(convert(kOneCue, settings).find("value=\"0.00\"/>"), std::string::npos);
    settings.charDistance = "-250";
    EXPECT_NE(convert(kOneCue, settings).find("value=\"-2.50\"/>"), std::string::npos);

    EXPECT_NE(convert(kOneCue).find("value=\"0 -478\"></param>"), std::string::npos);
    settings.py = "-10";
    settings.px = "12";
    settings.selectedSx = "1.5";
    const std::string document = convert(kOneCue, settings);
    EXPECT_NE(document.find("value=\"12 --10\"></param>"), std::string::npos);
    EXPECT_NE(document.find("value=\"1.5 1.0\"/>"), std::string::npos);
}

TEST(FcpxmlWriter, QuotationMarksLeaveTheNameAndBlanksDoubleInTheText) {
    const std::string document =
        convert("1\n00:00:01,000 --> 00:00:02,000\nsay \"hi\" \u201Cnow\u201D\n");
    EXPECT_NE(document.find("<title name=\"say hi now\" lane=\"1\""), std::string::npos);
    EXPECT_NE(document.find(">say  \"hi\"  \u201Cnow\u201D</text-style>"), std::string::npos);
}

TEST(FcpxmlWriter, StopsOnFrameRateAndEmptySrt) {
    for (const char* fps : {"24.5", "0", "-25", "", "25 ", "abc"}) {
        FcpxmlSettings settings;
        settings.fps = fps;
        try {
            convert(kOneCue, settings);
            ADD_FAILURE() << "no stop for fps " << fps;
        } catch (const FcpxmlStop& stop) {
            EXPECT_EQ(stop.kind(), FcpxmlStop::Kind::invalidFps);
            EXPECT_EQ(stop.screenText(), "Error: Invalid FPS value");
            EXPECT_EQ(stop.consoleLine(), std::string("   ❌ 错误: 无效的 FPS 值 (") + fps + ")");
        }
    }
    try {
        convert("not an srt");
        ADD_FAILURE() << "no stop for an SRT without subtitles";
    } catch (const FcpxmlStop& stop) {
        EXPECT_EQ(stop.kind(), FcpxmlStop::Kind::noSubtitles);
        EXPECT_EQ(stop.screenText(), "Error: No valid subtitles found in SRT");
        EXPECT_EQ(stop.consoleLine(), "   ❌ 错误: 未找到有效的字幕");
    }
    FcpxmlSettings settings;
    settings.selectedFrame = "1920x1080";
    EXPECT_THROW(convert(kOneCue, settings), FcpxmlStop);
    // A time whose frame count cannot be written stops instead of overflowing.
    EXPECT_THROW(convert("1\n99999999999999:00:00,000 --> 99999999999999:00:01,000\nA\n"),
                 FcpxmlStop);
}

TEST(FcpxmlWriter, EscapesWhatXmlReserves) {
    FcpxmlSettings settings;
    settings.fontName = "A&B \"Sans\"";
    settings.px = "<1>";
    const std::string srt =
        "1\n00:00:01,000 --> 00:00:02,000\nTom & Jerry <b>bold</b> \x01 tsstrokevalue {text}\n\n"
        "2\n00:00:02,000 --> 00:00:03,000\nbad \xFF byte\n";
    const std::string document = buildFcpxml(srt, "R&D <cut>", settings, fixedStamps()).document;
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_NE(
        document.find(">Tom  &amp;  Jerry  &lt;b&gt;bold&lt;/b&gt;    tsstrokevalue  {text}<"),
        std::string::npos);
    EXPECT_NE(document.find("font=\"A&amp;B &quot;Sans&quot;\""), std::string::npos);
    EXPECT_NE(document.find("value=\"&lt;1&gt; -478\""), std::string::npos);
    EXPECT_NE(document.find("<project name=\"R&amp;D &lt;cut&gt;\""), std::string::npos);
    EXPECT_NE(document.find(">bad  \uFFFD  byte<"), std::string::npos);
}

TEST(FcpxmlWriter, MatchesGoldenDocument) {
    const std::string srt = readFile(goldenPath("sample.srt"));
    const std::string document = buildFcpxml(srt, "sample", {}, fixedStamps()).document;
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_EQ(document, golden("sample.fcpxml", document));
}

TEST(FcpxmlWriter, DateFormatUsesLocalZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    ::setenv("TZ", "Asia/Shanghai", 1);
    ::tzset();
    EXPECT_EQ(formatFcpxmlDate(std::chrono::system_clock::from_time_t(86400 + 3661)),
              "1970-01-02 09:01:01 +0800");
    if (saved) {
        ::setenv("TZ", previous.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST(FcpxmlSettingsStore, ReadsStoredValuesAndDefaults) {
    testing::TempHome home;
    Preferences preferences(home.configHome() / "preferences.json");
    EXPECT_EQ(FcpxmlSettings::load(preferences), FcpxmlSettings{});

    preferences.setText("srt_fps", "50");
    preferences.setText("srt_selectedFrame", "3840X2160");
    preferences.setText("srt_py", "300");
    FcpxmlSettings settings = FcpxmlSettings::load(preferences);
    EXPECT_EQ(settings.fps, "50");
    EXPECT_EQ(settings.selectedFrame, "3840X2160");
    EXPECT_EQ(settings.py, "300");
    EXPECT_EQ(settings.fontName, "Hei");

    settings.fontName = "PingFang SC";
    settings.save(preferences);
    EXPECT_EQ(preferences.text("srt_fontname"), "PingFang SC");
    EXPECT_EQ(preferences.text("srt_selectedfont"), "Hei");
    EXPECT_EQ(FcpxmlSettings::load(preferences), settings);
    EXPECT_EQ(FcpxmlSettings::keys().size(), 15u);
}

TEST(SrttoFcpxmlScreen, ConvertsOrShowsTheStop) {
    SrttoFcpxmlModel model;
    EXPECT_EQ(model.projectName, "My Project");
    EXPECT_EQ(model.sequenceDuration, "2216200/5000s");
    model.srtText = kOneCue;
    model.convertSRTtoFCPXML({}, fixedStamps());
    EXPECT_EQ(model.sequenceDuration, "7600/2500s");
    EXPECT_NE(model.fcpxmlText.find("<project name=\"My Project\""), std::string::npos);

    FcpxmlSettings settings;
    settings.fps = "0";
    model.convertSRTtoFCPXML(settings, fixedStamps());
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

TEST(FcpxmlFileConversion, WritesBesideTheSrt) {
    TempDir dir;
    writeTestFile(dir / "talk.srt", kOneCue);
    const auto output = convertSRTtoFCPXMLPublic(dir / "talk.srt", {}, fixedStamps());
    EXPECT_EQ(output, dir / "talk.fcpxml");
    const std::string document = readFile(output);
    EXPECT_NE(document.find("file:///Users/apple/Movies/talk.fcpbundle"), std::string::npos);
    EXPECT_EQ(document.rfind("</fcpxml>"), document.size() - 9);
    const std::string command = "xmllint --noout '" + output.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST(FcpxmlFileConversion, UsesTheSettingsTheScreenStored) {
    testing::TempHome home;
    Preferences(home.configHome() / "quillora/preferences.json").setText("srt_fps", "50");
    TempDir dir;
    writeTestFile(dir / "talk.srt", kOneCue);
    const auto output = convertSRTtoFCPXMLPublic(dir / "talk.srt");
    EXPECT_NE(readFile(output).find("FFVideoFormat1920x1080p50"), std::string::npos);
}

TEST(FcpxmlFileConversion, FailuresWriteNothing) {
    TempDir dir;
    ConsoleCapture console;
    writeTestFile(dir / "empty.srt", "");
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "empty.srt", {}, fixedStamps()), FcpxmlStop);
    EXPECT_TRUE(console.contains("   ❌ 错误: 未找到有效的字幕"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.fcpxml"));

    writeTestFile(dir / "a.srt", kOneCue);
    FcpxmlSettings settings;
    settings.fps = "24.5";
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "a.srt", settings, fixedStamps()), FcpxmlStop);
    EXPECT_TRUE(console.contains("   ❌ 错误: 无效的 FPS 值 (24.5)"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a.fcpxml"));

    writeTestFile(dir / "utf16.srt", std::string("\xFF\xFE"
                                                 "1\0",
                                                 4));
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "utf16.srt", {}, fixedStamps()), TextFileError);
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "missing.srt", {}, fixedStamps()), TextFileError);
    EXPECT_FALSE(std::filesystem::exists(dir / "utf16.fcpxml"));

    // The output place is taken by a folder: the write fails and is reported.
    writeTestFile(dir / "b.srt", kOneCue);
    std::filesystem::create_directory(dir / "b.fcpxml");
    EXPECT_THROW(convertSRTtoFCPXMLPublic(dir / "b.srt", {}, fixedStamps()), TextFileError);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "b.fcpxml"));
}

}  // namespace
}  // namespace quillora
