#include "subtitles/editor_xml_reader.h"

#include <gtest/gtest.h>

#include <libxml/xmlmemory.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "subtitles/fcpxml_writer.h"
#include "subtitles/premiere_writer.h"
#include "subtitles/srt_parser.h"
#include "xml_check.h"

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

std::string fcpxmlWithTitles(const std::string& spineContent) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n<fcpxml version=\"1.7\">"
           "<library><event><project><sequence><spine>" +
           spineContent + "</spine></sequence></project></event></library></fcpxml>";
}

std::string title(const std::string& offset, const std::string& duration, const std::string& text) {
    return "<title offset=\"" + offset + "\" duration=\"" + duration +
           "\"><text><text-style ref=\"ts1\">" + text + "</text-style></text></title>";
}

TEST(FcpxmlReader, ReadsGapTitlesAsSrtBlocks) {
    const std::string xml =
        fcpxmlWithTitles("<gap offset=\"0s\">" + title("3700/2500s", "3700/2500s", "A &amp; B") +
                         title("2s", "1/2s", "Two") + "</gap>");
    EXPECT_EQ(fcpxmlDocumentToSrt(xml),
              "1\n00:00:01,480 --> 00:00:02,960\nA & B\n\n\n"
              "2\n00:00:02,000 --> 00:00:02,500\nTwo\n\n\n");
}

TEST(FcpxmlReader, PrefersTitlesOnClipsAndReadsTimesLeniently) {
    const std::string xml = fcpxmlWithTitles(
        "<gap>" + title("0s", "1s", "gap title") + "</gap><clip>" + title("10/2/3s", "x", "odd") +
        "<title><text><text-style>bare</text-style></text></title>" +
        title(" 1.5abc", "-0.5s", "lenient") + "</clip>");
    EXPECT_EQ(fcpxmlDocumentToSrt(xml),
              "1\n00:00:00,000 --> 00:00:00,000\nodd\n\n\n"
              "2\n00:00:00,000 --> 00:00:00,000\nbare\n\n\n"
              "3\n00:00:01,500 --> 00:00:01,000\nlenient\n\n\n");
    EXPECT_EQ(fcpxmlDocumentToSrt(fcpxmlWithTitles("")), "");
}

TEST(XmemlReader, ReadsGeneratorItemsByPosition) {
    auto item = [](const std::string& text, const std::string& start, const std::string& end) {
        return "<generatoritem><start>" + start + "</start><end>" + end +
               "</end><effect><parameter><parameterid>font</parameterid><value>X</value>"
               "</parameter><parameter><parameterid>str</parameterid><value>" +
               text + "</value></parameter></effect></generatoritem>";
    };
    const std::string xml =
        "<xmeml><sequence><timecode><rate><timebase>25</timebase></rate></timecode><media><video>"
        "<track>" +
        item("One", "38", "75") + item("", "80", "90") + item("Three", "100", "7") +
        item("bad start", "1.5", "9") + "<clipitem><start>1</start></clipitem></track><track>" +
        item("&lt;Five&gt;", "+25", "50") + "</track></video></media></sequence></xmeml>";
    EXPECT_EQ(xmemlDocumentToSrt(xml),
              "1\n00:00:01,520 --> 00:00:03,000\nOne\n\n\n"
              "3\n00:00:04,000 --> 00:00:00,280\nThree\n\n\n"
              "5\n00:00:01,000 --> 00:00:02,000\n<Five>\n\n\n");
}

TEST(XmemlReader, NeedsAUsableTimebase) {
    auto withTimebase = [](const std::string& timecode) {
        return xmemlDocumentToSrt(
            "<xmeml><sequence>" + timecode +
            "<media><video><track><generatoritem><start>1</start><end>2</end><effect><parameter>"
            "<parameterid>str</parameterid><value>T</value></parameter></effect></generatoritem>"
            "</track></video></media></sequence></xmeml>");
    };
    EXPECT_EQ(withTimebase(""), "");
    for (const char* timebase : {"25fps", "0", "-25", "", "inf"}) {
        EXPECT_EQ(withTimebase("<timecode><rate><timebase>" + std::string(timebase) +
                               "</timebase></rate></timecode>"),
                  "")
            << timebase;
    }
    EXPECT_EQ(withTimebase("<timecode><rate><timebase>30</timebase></rate></timecode>"),
              "1\n00:00:00,033 --> 00:00:00,066\nT\n\n\n");
}

// Counts the blocks libxml2 holds while alive, through its allocator hooks.
class LibxmlBlockCount {
  public:
    LibxmlBlockCount() {
        xmlMemGet(&free_, &malloc_, &realloc_, &strdup_);
        live_ = 0;
        xmlMemSetup(countedFree, countedMalloc, countedRealloc, countedStrdup);
    }
    ~LibxmlBlockCount() { xmlMemSetup(free_, malloc_, realloc_, strdup_); }
    long live() const { return live_; }

  private:
    static void* countedMalloc(size_t size) { return counted(std::malloc(size)); }
    static char* countedStrdup(const char* text) { return counted(::strdup(text)); }
    static void* countedRealloc(void* block, size_t size) {
        void* moved = std::realloc(block, size);
        return block ? moved : counted(moved);
    }
    static void countedFree(void* block) {
        if (block) --live_;
        std::free(block);
    }
    template <typename T>
    static T* counted(T* block) {
        if (block) ++live_;
        return block;
    }
    static inline long live_ = 0;
    xmlFreeFunc free_;
    xmlMallocFunc malloc_;
    xmlReallocFunc realloc_;
    xmlStrdupFunc strdup_;
};

TEST(EditorXmlReaders, FreeTheDocumentsTheyRead) {
    const std::string fcpxml = fcpxmlWithTitles("<gap>" + title("0s", "1s", "T") + "</gap>");
    const std::string xmeml =
        "<xmeml><sequence><timecode><rate><timebase>25</timebase></rate></timecode><media><video>"
        "<track><generatoritem><start>0</start><end>25</end><effect><parameter><parameterid>str"
        "</parameterid><value>T</value></parameter></effect></generatoritem></track></video>"
        "</media></sequence></xmeml>";
    const std::string srt = "1\n00:00:00,000 --> 00:00:01,000\nT\n\n\n";
    // The first reads set up the library's own tables, which live on.
    ASSERT_EQ(fcpxmlDocumentToSrt(fcpxml), srt);
    ASSERT_EQ(xmemlDocumentToSrt(xmeml), srt);
    LibxmlBlockCount blocks;
    EXPECT_EQ(fcpxmlDocumentToSrt(fcpxml), srt);
    EXPECT_EQ(blocks.live(), 0);
    EXPECT_EQ(xmemlDocumentToSrt(xmeml), srt);
    EXPECT_EQ(blocks.live(), 0);
}

TEST(EditorXmlFiles, UnusableFilesGiveEmptyTextAndAConsoleLine) {
    TempDir dir;
    writeTestFile(dir / "broken.xml", "<xmeml><sequence>");
    writeTestFile(dir / "broken.fcpxml", "not xml at all");
    writeTestFile(
        dir / "bomb.xml",
        "<!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><x>&b;</x>");
    ConsoleCapture console;
    EXPECT_EQ(xmltosrt(dir / "broken.xml"), "");
    EXPECT_EQ(fcpxmltosrt(dir / "broken.fcpxml"), "");
    EXPECT_EQ(xmltosrt(dir / "bomb.xml"), "");
    EXPECT_EQ(fcpxmltosrt(dir / "missing.fcpxml"), "");
    ASSERT_EQ(console.lines().size(), 4u);
    for (const std::string& line : console.lines()) {
        EXPECT_EQ(line.rfind("Error parsing XML: ", 0), 0u) << line;
    }
    EXPECT_NE(console.lines()[3].find("missing.fcpxml"), std::string::npos);
    EXPECT_THROW(readXmemlFileAsSrt(dir / "broken.xml"), EditorXmlError);
    EXPECT_THROW(readFcpxmlFileAsSrt(dir.path()), EditorXmlError);
}

std::vector<Subtitle> cues(const std::string& srt) {
    return SRTParser().parse(srt);
}

// As the editors export them: titles connected to clips of every kind (times relative to the
// parent's start, placed at its offset), a sequence whose timecode starts at one hour, items
// switched off. Titles on a gap of the primary storyline give way to the others.
TEST(FcpxmlReader, ReadsTitlesWhereEditorsAttachThem) {
    const std::string xml =
        "<fcpxml version=\"1.10\"><library><event><project><sequence tcStart=\"3600s\"><spine>"
        "<gap offset=\"3600s\" start=\"3600s\" duration=\"2s\">" +
        title("3600s", "1s", "gap") +
        "</gap><asset-clip offset=\"3602s\" start=\"10s\" duration=\"5s\">" +
        title("12s", "2s", "on asset") +
        "<title offset=\"13s\" duration=\"1s\" enabled=\"0\"><text><text-style>off</text-style>"
        "</text></title></asset-clip>"
        "<sync-clip offset=\"3607s\" start=\"5s\" duration=\"10s\"><spine>"
        "<clip offset=\"5s\" start=\"100s\" duration=\"5s\">" +
        title("10001/100s", "1001/1000s", "inner") +
        "</clip></spine></sync-clip><ref-clip offset=\"3617s\" start=\"0s\" enabled=\"0\">" +
        title("1s", "1s", "disabled parent") + "</ref-clip><clip offset=\"3620s\" start=\"0s\">" +
        title("1s", "1s", "last") +
        "</clip></spine></sequence></project></event></library></fcpxml>";
    EXPECT_EQ(fcpxmlDocumentToSrt(xml),
              "1\n00:00:04,000 --> 00:00:06,000\non asset\n\n\n"
              "2\n00:00:07,010 --> 00:00:08,011\ninner\n\n\n"
              "3\n00:00:21,000 --> 00:00:22,000\nlast\n\n\n");
}

// Titles trimmed by a transition carry -1 as their start or end; NTSC sequences count frames at
// the true rate; switched-off items are left out but keep their number.
TEST(XmemlReader, ReadsTrimmedDisabledAndNtscItems) {
    auto item = [](const std::string& text, int start, int end, const std::string& extra = "") {
        return "<generatoritem><start>" + std::to_string(start) + "</start><end>" +
               std::to_string(end) + "</end><in>10</in><out>40</out>" + extra +
               "<effect><parameter><parameterid>str</parameterid><value>" + text +
               "</value></parameter></effect></generatoritem>";
    };
    auto transition = [](int start, int end) {
        return "<transitionitem><start>" + std::to_string(start) + "</start><end>" +
               std::to_string(end) + "</end></transitionitem>";
    };
    auto document = [](const std::string& ntsc, const std::string& track) {
        return "<xmeml><sequence><rate><timebase>30</timebase><ntsc>" + ntsc +
               "</ntsc></rate><timecode><rate><timebase>30</timebase></rate></timecode><media>"
               "<video><track>" +
               track + "</track></video></media></sequence></xmeml>";
    };
    const std::string track = item("plain", 30, 60) + transition(55, 65) + item("after", -1, 90) +
                              item("off", 90, 120, "<enabled>FALSE</enabled>") +
                              item("before", 120, -1) + transition(140, 150) +
                              item("no transition", 200, -1) + item("lost", -1, -1);
    EXPECT_EQ(xmemlDocumentToSrt(document("TRUE", track)),
              "1\n00:00:01,001 --> 00:00:02,002\nplain\n\n\n"
              "2\n00:00:01,835 --> 00:00:03,003\nafter\n\n\n"
              "4\n00:00:04,004 --> 00:00:05,005\nbefore\n\n\n"
              "5\n00:00:06,673 --> 00:00:07,674\nno transition\n\n\n");
    EXPECT_EQ(xmemlDocumentToSrt(document("FALSE", item("plain", 30, 60))),
              "1\n00:00:01,000 --> 00:00:02,000\nplain\n\n\n");
}

const std::string kRoundTripSrt =
    "1\n00:00:01,500 --> 00:00:03,000\n第一句话\n\n"
    "2\n00:00:03,020 --> 00:00:04,999\nTom&Jerry<3\n\n"
    "3\n00:59:59,960 --> 01:00:02,000\n“引号”里的话\n\n"
    "4\n01:00:02,000 --> 01:00:03,000\ntwo words\n";

TEST(EditorRoundTrip, FcpxmlKeepsTextsAndFrames) {
    for (const char* fps : {"25", "50", "23.976", "29.97", "59.94"}) {
        FcpxmlSettings settings;
        settings.fps = fps;
        const double frame = 1.0 / std::stod(fps);
        const std::string xml = buildFcpxml(kRoundTripSrt, "rt", settings).document;
        const auto before = cues(kRoundTripSrt);
        const auto after = cues(fcpxmlDocumentToSrt(xml));
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) {
            // Frames are truncated on the way out, and the reader drops fractions of a millisecond.
            EXPECT_LE(after[i].startTime, before[i].startTime + 0.001) << i;
            EXPECT_GT(after[i].startTime, before[i].startTime - frame - 0.002) << i;
            EXPECT_NEAR(after[i].endTime - after[i].startTime,
                        before[i].endTime - before[i].startTime, frame + 0.002)
                << i;
            // At NTSC rates the end also falls on its own frame.
            if (std::strchr(fps, '.')) {
                EXPECT_GT(after[i].endTime, before[i].endTime - frame - 0.002)
                    << i << " at " << fps;
            }
            EXPECT_EQ(after[i].index, static_cast<int64_t>(i) + 1);
        }
        EXPECT_EQ(after[0].text, "第一句话");
        EXPECT_EQ(after[1].text, "Tom&Jerry<3");
        EXPECT_EQ(after[2].text, "“引号”里的话");
        // The title text doubles every blank, and the reader takes it as written.
        EXPECT_EQ(after[3].text, "two  words");
    }
}

TEST(EditorRoundTrip, PremiereKeepsTextsAndFrames) {
    for (const float fps : {25.0f, 23.976f, 29.97f, 59.94f}) {
        const std::string xml =
            buildPremiereXml(parseSubtitleItems(kRoundTripSrt), "rt", fps, 1920, 1080, false);
        const auto before = cues(kRoundTripSrt);
        const auto after = cues(xmemlDocumentToSrt(xml));
        ASSERT_EQ(after.size(), before.size());
        // Frames are rounded to the nearest, so a time moves by half a frame at most.
        const double halfFrame = 0.5 / fps + 0.001;
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_NEAR(after[i].startTime, before[i].startTime, halfFrame) << i << " at " << fps;
            EXPECT_NEAR(after[i].endTime, before[i].endTime, halfFrame) << i << " at " << fps;
            EXPECT_EQ(after[i].text, before[i].text) << i;
        }
    }

    // In the plate layout the titles carry the second lines; the pictures are not read.
    const std::string plate =
        buildPremiereXml(parseSubtitleItems("1\n00:00:01,500 --> 00:00:03,000\n主持人\n大家好\n"),
                         "p", 25, 1920, 1080, false);
    EXPECT_EQ(xmemlDocumentToSrt(plate),
              "1\n00:00:01,520 --> 00:00:03,000\n大家好\n\n\n"
              "2\n00:00:01,520 --> 00:00:03,000\n大家好\n\n\n");
}

// Subtitle texts built from the characters that break XML documents: whatever the SRT holds,
// both writers produce documents that parse and read back.
TEST(EditorRoundTrip, HostileTextsStayWellFormed) {
    // clang-format off
    const std::vector<std::string> pieces = {
        "a", "Z", " ", "&", "<", ">", "\"", "'", "]]>", "&amp;", "\x01", "\x0B", "\x1F", "\t",
        "\r", "\xFF", "\xC3", "\xC3\xA9", "中", "\xF0\x9F\x98\x80", "\xED\xA0\x80",
        "\xEF\xBF\xBE", "<!--", "<![CDATA[", "titlenamevalue", "{text}", "\u201C", "\u2028"};
    // clang-format on
    unsigned state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    std::string srt;
    auto line = [&](std::string text) {
        for (int k = 0; k < 12; ++k)
            text += pieces[next() % pieces.size()];
        return text;
    };
    for (int cue = 1; cue <= 300; ++cue) {
        const std::string first = line("x");
        const std::string second = line("y");
        srt += std::to_string(cue) + "\n00:00:" + std::to_string(10 + cue % 40) +
               ",000 --> 00:00:" + std::to_string(11 + cue % 40) + ",500\n" + first + "\n" +
               (cue % 2 ? second + "\n" : "") + "\n";
    }
    const std::string fcpxml = buildFcpxml(srt, "a&b<c>\"d\"", {}).document;
    ASSERT_TRUE(testing::isWellFormedXml(fcpxml));
    EXPECT_EQ(cues(fcpxmlDocumentToSrt(fcpxml)).size(), cues(srt).size());

    for (const bool tianhe : {false, true}) {
        const std::string xml =
            buildPremiereXml(parseSubtitleItems(srt), "a&b<c>\"d\"", 25, 1920, 1080, tianhe);
        ASSERT_TRUE(testing::isWellFormedXml(xml));
        EXPECT_NO_THROW(xmemlDocumentToSrt(xml));
    }
}

}  // namespace
}  // namespace quillora
