#include "subtitles/premiere_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "subtitles/srt_parser.h"
#include "xml_check.h"

namespace quillora {
namespace {

using testing::golden;
using testing::goldenPath;
using ::testing::HasSubstr;
using testing::isWellFormedXml;
using testing::TempDir;
using testing::writeTestFile;

std::string build(std::string_view srt, bool istianhe = false, float fps = 25, int width = 1920,
                  int height = 1080, std::string_view name = "ep01") {
    auto counter = std::make_shared<int>(0);
    auto uuids = [counter] {
        char text[40];
        std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", ++*counter);
        return std::string(text);
    };
    return buildPremiereXml(parseSubtitleItems(srt), name, fps, width, height, istianhe, uuids);
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
    const std::vector<std::tuple<float, float, int64_t>> frames = {
        {1.5f, 25, 38}, {3.0f, 25, 75}, {0.1f, 25, 3}, {-0.1f, 25, -3}, {1.0f, 29.97f, 30}};
    for (const auto& [seconds, fps, frame] : frames)
        EXPECT_EQ(premiereFrame(seconds, fps), frame) << seconds << " at " << fps;
    EXPECT_THROW(premiereFrame(1.0e30f, 25), PremiereXmlError);
    EXPECT_THROW(premiereFrame(std::numeric_limits<float>::quiet_NaN(), 25), PremiereXmlError);
}

TEST(PremiereWriter, SingleLineTitlesShowTheirFirstLine) {
    const std::string document =
        build(kSingle + "\n2\n00:00:04,000 --> 00:00:05,000\n第二句\n两行\n");
    EXPECT_EQ(count(document, "<value>第二句</value>"), 1u);
    EXPECT_EQ(count(document, "两行"), 0u);
    EXPECT_EQ(count(document, "<clipitem"), 0u);
}

// NTSC rates are the whole timebase marked NTSC, frames counted at the true rate (1:45.7 is
// frame 3168 at 29.97, not 3171); other fractional rates have no timebase and are refused.
TEST(PremiereWriter, NtscRatesAreMarkedAndCountedAtTheTrueRate) {
    const std::string srt = "1\n00:00:01,500 --> 00:01:45,700\nA\nB\n";
    const struct {
        float fps;
        const char* timebase;
        const char* end;
    } rates[] = {{23.976f, "<timebase>24</timebase>", "<end>2534</end>"},
                 {29.97f, "<timebase>30</timebase>", "<end>3168</end>"},
                 {59.94f, "<timebase>60</timebase>", "<end>6336</end>"}};
    for (const auto& rate : rates) {
        const std::string document = build(srt, false, rate.fps, 3840, 2160);
        // Sequence rate, sample rate and timecode, four per picture clip, then the two titles.
        EXPECT_EQ(count(document, rate.timebase), 3u + 4u + 2u) << rate.fps;
        EXPECT_EQ(count(document, "<ntsc>FALSE</ntsc>"), 0u) << rate.fps;
        EXPECT_EQ(count(document, rate.end), 3u) << rate.fps;
    }
    const std::string whole = build(srt, false, 30, 1920, 1080);
    EXPECT_EQ(count(whole, "<timebase>25.0</timebase>"), 2u);
    EXPECT_EQ(count(whole, "<end>3171</end>"), 3u);
    EXPECT_THROW(build(srt, false, 24.5f, 1920, 1080), PremiereXmlError);
}

TEST(PremiereWriter, PlateLayoutsWithAndWithoutTheVariant) {
    const auto plain =
        videoTracks(build("1\n00:00:01,000 --> 00:00:02,000\n主持人\n大家好\n第二行\n\n"
                          "2\n00:00:02,000 --> 00:00:03,000\n空镜\n风景\n"));
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(count(plain[0], "<clipitem id=\"clipitem-"), 2u);
    EXPECT_THAT(plain[0], HasSubstr("<name>空镜.png</name>"));
    EXPECT_EQ(count(plain[1], "<generatoritem"), 2u);
    EXPECT_EQ(count(plain[2], "<generatoritem"), 2u);
    EXPECT_THAT(plain[1], HasSubstr("<value>大家好\n第二行</value>"));
    EXPECT_THAT(plain[2], HasSubstr("<name>风景</name>"));

    // The name-plate variant sorts titles onto the tracks by their plate; the golden file holds
    // the whole layout.
    const std::string document = build(readFile(goldenPath("plate.srt")), true);
    const auto tracks = videoTracks(document);
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_THAT(tracks[0], HasSubstr("<name>无人名底板镜.png</name>"));
    EXPECT_EQ(count(tracks[1], "<generatoritem"), 1u);
    EXPECT_EQ(count(tracks[2], "<generatoritem"), 2u);
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_EQ(document, golden("plate_tianhe.xml", document));
}

TEST(PremiereWriter, MatchesGoldenSingleLineDocument) {
    const std::string document =
        build(readFile(goldenPath("sample.srt")), false, 25, 1920, 1080, "sample");
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_EQ(document, golden("sample_premiere.xml", document));
    // What the golden file must keep showing: title ids are the sequence name and 1, all on the
    // first track, frames rounded (1.5 s is frame 38), every title as long as the sequence.
    const auto tracks = videoTracks(document);
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(count(tracks[0], "<generatoritem id=\"sample1\">"), 3u);
    EXPECT_EQ(count(tracks[1] + tracks[2], "<generatoritem"), 0u);
    EXPECT_THAT(tracks[0], HasSubstr("<start>38</start>\n                        <end>75</end>"));
    EXPECT_EQ(count(document, "<duration>309</duration>"), 4u);
}

TEST(PremiereWriter, InsertedTextIsEscapedAndNeverRescanned) {
    const std::string document = build(
        "1\n00:00:01,000 --> 00:00:02,000\ntimeout & framein <subclip1>\nprojectname "
        "titlestart51 \x02\n",
        false, 25, 1920, 1080, "R&D \"cut\"");
    EXPECT_TRUE(isWellFormedXml(document));
    EXPECT_THAT(document, HasSubstr("<name>timeout &amp; framein &lt;subclip1&gt;.png</name>"));
    EXPECT_THAT(document, HasSubstr("<value>projectname titlestart51 </value>"));
    EXPECT_THAT(document, HasSubstr("<generatoritem id=\"R&amp;D &quot;cut&quot;1\">"));
    EXPECT_THAT(document, HasSubstr("<name>R&amp;D \"cut\"</name>"));
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
    EXPECT_THAT(document, HasSubstr("<generatoritem id=\"ep011\">"));
    EXPECT_EQ(document.substr(document.size() - 8), "</xmeml>");
    EXPECT_EQ(std::system(("xmllint --noout '" + output.string() + "' 2>/dev/null").c_str()), 0);

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
