#include "subtitles/premiere_writer.h"

#include <gtest/gtest.h>

#include "subtitles/srt_parser.h"
#include "xml_check.h"

namespace quillora {
namespace {

using testing::golden;
using testing::goldenPath;
using testing::isWellFormedXml;
using testing::TempDir;
using testing::writeTestFile;

std::function<std::string()> countingUuids() {
    auto counter = std::make_shared<int>(0);
    return [counter] {
        char text[40];
        std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", ++*counter);
        return std::string(text);
    };
}

std::string build(std::string_view srt, bool istianhe = false, float fps = 25, int width = 1920,
                  int height = 1080, std::string_view name = "ep01") {
    return buildPremiereXml(parseSubtitleItems(srt), name, fps, width, height, istianhe,
                            countingUuids());
}

size_t count(std::string_view text, std::string_view word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != text.npos; at = text.find(word, at + word.size()))
        ++n;
    return n;
}

// The contents of the three video tracks, in order.
std::vector<std::string> videoTracks(const std::string& document) {
    std::vector<std::string> tracks;
    const std::string opening = "<track TL.SQTrackShy=\"0\" TL.SQTrackExpandedHeight=";
    size_t at = document.find(opening);
    while (at != std::string::npos && tracks.size() < 3) {
        const size_t end = document.find("\n                </track>", at);
        tracks.push_back(document.substr(at, end - at));
        at = document.find(opening, end);
    }
    return tracks;
}

const std::string kSingle = "1\n00:00:01,500 --> 00:00:03,000\n第一句\n";

TEST(PremiereWriter, RoundsFramesHalfAwayFromZero) {
    EXPECT_EQ(premiereFrame(1.5f, 25), 38);
    EXPECT_EQ(premiereFrame(3.0f, 25), 75);
    EXPECT_EQ(premiereFrame(0.1f, 25), 3);
    EXPECT_EQ(premiereFrame(-0.1f, 25), -3);
    EXPECT_EQ(premiereFrame(1.0f, 29.97f), 30);
    EXPECT_THROW(premiereFrame(1.0e30f, 25), PremiereXmlError);
    EXPECT_THROW(premiereFrame(std::numeric_limits<float>::quiet_NaN(), 25), PremiereXmlError);

    const std::string picture = myprclipitem(1.5f, 3.0f, "主持人", 7, 25, 1920, 1080);
    EXPECT_EQ(picture.rfind("<clipitem id=\"clipitem-7\">\n", 0), 0u);
    EXPECT_NE(picture.find("<start>38</start>"), std::string::npos);
    EXPECT_NE(picture.find("<end>75</end>"), std::string::npos);
    EXPECT_NE(picture.find("<out>90037</out>"), std::string::npos);
    EXPECT_NE(picture.find("<file id=\"file-7\">"), std::string::npos);
    EXPECT_NE(
        picture.find("<name>主持人.png</name>\n                            <pathurl></pathurl>"),
        std::string::npos);
    EXPECT_EQ(count(picture, "<name>主持人.png</name>"), 2u);
    EXPECT_EQ(picture.substr(picture.size() - 32), "\n                    </clipitem>");
}

TEST(PremiereWriter, SingleLineTitles) {
    const std::string document =
        build(kSingle + "\n2\n00:00:04,000 --> 00:00:05,000\n第二句\n两行\n");
    EXPECT_TRUE(isWellFormedXml(document));
    const auto tracks = videoTracks(document);
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(count(tracks[0], "<generatoritem id=\"ep011\">"), 2u);
    EXPECT_EQ(count(tracks[1], "<generatoritem"), 0u);
    EXPECT_EQ(count(tracks[2], "<generatoritem"), 0u);
    EXPECT_EQ(count(document, "<clipitem"), 0u);
    EXPECT_NE(tracks[0].find("<start>38</start>\n                        <end>75</end>"),
              std::string::npos);
    // Named by the first line only; the duration of every title is the sequence's.
    EXPECT_EQ(count(document, "<value>第二句</value>"), 1u);
    EXPECT_EQ(count(document, "<duration>125</duration>"), 3u);
    EXPECT_NE(document.find("<name>ep01</name>"), std::string::npos);
    EXPECT_NE(document.find("<width>1920</width>\n                        <height>1080</height>"),
              std::string::npos);
    EXPECT_EQ(count(document, "00000000-0000-4000-8000-00000000000"), 2u);
}

TEST(PremiereWriter, TimebaseIsTheWholeFrameRate) {
    const std::string document =
        build("1\n00:00:01,500 --> 00:00:03,000\nA\nB\n", false, 29.97f, 3840, 2160);
    EXPECT_EQ(count(document, "<timebase>25</timebase>"), 0u);
    // Sequence rate, sample rate and timecode, then four per picture clip.
    EXPECT_EQ(count(document, "<timebase>29</timebase>"), 3u + 4u);
    EXPECT_EQ(count(document, "<timebase>25.0</timebase>"), 2u);
    EXPECT_NE(document.find("<width>3840</width>"), std::string::npos);
    EXPECT_EQ(count(document, "<start>45</start>"), 3u);
}

TEST(PremiereWriter, PlateModeWithoutVariantRepeatsTitles) {
    const std::string document = build(
        "1\n00:00:01,000 --> 00:00:02,000\n主持人\n大家好\n第二行\n\n"
        "2\n00:00:02,000 --> 00:00:03,000\n空镜\n风景\n");
    const auto tracks = videoTracks(document);
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(count(tracks[0], "<clipitem id=\"clipitem-"), 2u);
    EXPECT_NE(tracks[0].find("<name>空镜.png</name>"), std::string::npos);
    EXPECT_EQ(count(tracks[1], "<generatoritem"), 2u);
    EXPECT_EQ(count(tracks[2], "<generatoritem"), 2u);
    EXPECT_NE(tracks[1].find("<value>大家好\n第二行</value>"), std::string::npos);
    EXPECT_NE(tracks[2].find("<name>风景</name>"), std::string::npos);
}

TEST(PremiereWriter, NamePlateVariantSortsTitles) {
    const std::string srt = readFile(goldenPath("plate.srt"));
    const std::string document = build(srt, true);
    const auto tracks = videoTracks(document);
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_NE(tracks[0].find("<name>主持人.png</name>"), std::string::npos);
    EXPECT_NE(tracks[0].find("<name>无人名底板.png</name>"), std::string::npos);
    EXPECT_NE(tracks[0].find("<name>无人名底板镜.png</name>"), std::string::npos);
    EXPECT_EQ(count(tracks[1], "<generatoritem"), 1u);
    EXPECT_NE(tracks[1].find("<name>大家好</name>"), std::string::npos);
    EXPECT_EQ(count(tracks[2], "<generatoritem"), 2u);
    EXPECT_NE(tracks[2].find("<name>今天 &amp; 明天</name>"), std::string::npos);
    EXPECT_NE(tracks[2].find("<name>风景</name>"), std::string::npos);
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_EQ(document, golden("plate_tianhe.xml", document));
}

TEST(PremiereWriter, MatchesGoldenSingleLineDocument) {
    const std::string document =
        build(readFile(goldenPath("sample.srt")), false, 25, 1920, 1080, "sample");
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_EQ(document, golden("sample_premiere.xml", document));
}

TEST(PremiereWriter, InsertedTextIsEscapedAndNeverRescanned) {
    const std::string document = build(
        "1\n00:00:01,000 --> 00:00:02,000\ntimeout & framein <subclip1>\nprojectname "
        "titlestart51 \x02\n",
        false, 25, 1920, 1080, "R&D \"cut\"");
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_NE(document.find("<name>timeout &amp; framein &lt;subclip1&gt;.png</name>"),
              std::string::npos);
    EXPECT_NE(document.find("<value>projectname titlestart51 </value>"), std::string::npos);
    EXPECT_NE(document.find("<generatoritem id=\"R&amp;D &quot;cut&quot;1\">"), std::string::npos);
    EXPECT_NE(document.find("<name>R&amp;D \"cut\"</name>"), std::string::npos);
}

TEST(PremiereWriter, RefusesWhatCannotBeADocument) {
    EXPECT_THROW(build(""), PremiereXmlError);
    EXPECT_THROW(build(kSingle, false, 0.5f), PremiereXmlError);
    EXPECT_THROW(build(kSingle, false, std::numeric_limits<float>::infinity()), PremiereXmlError);
    EXPECT_THROW(build(kSingle, false, 25, 0, 1080), PremiereXmlError);
}

TEST(PremiereFileConversion, WritesBesideOrNothing) {
    TempDir dir;
    writeTestFile(dir / "ep01.srt", kSingle);
    const auto output = writesrttoprbgxml(dir / "ep01.srt", 25, 1920, 1080, false);
    EXPECT_EQ(output, dir / "ep01.xml");
    const std::string document = readFile(output);
    EXPECT_NE(document.find("<generatoritem id=\"ep011\">"), std::string::npos);
    EXPECT_EQ(document.substr(document.size() - 8), "</xmeml>");
    const std::string command = "xmllint --noout '" + output.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);

    // UTF-16 with a byte-order mark is one of the reader's fallbacks.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("1\n00:00:01,500 --> 00:00:03,000\nHello\n"))
        utf16 += std::string{c, '\0'};
    writeTestFile(dir / "wide.srt", utf16);
    EXPECT_NO_THROW(writesrttoprbgxml(dir / "wide.srt", 25, 1920, 1080, false));

    writeTestFile(dir / "empty.srt", "");
    EXPECT_THROW(writesrttoprbgxml(dir / "empty.srt", 25, 1920, 1080, false), PremiereXmlError);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.xml"));
    EXPECT_THROW(writesrttoprbgxml(dir / "none.srt", 25, 1920, 1080, false), PremiereXmlError);
    std::filesystem::create_directory(dir / "folder.srt");
    EXPECT_THROW(writesrttoprbgxml(dir / "folder.srt", 25, 1920, 1080, false), PremiereXmlError);
    EXPECT_FALSE(std::filesystem::exists(dir / "folder.xml"));
}

}  // namespace
}  // namespace quillora
