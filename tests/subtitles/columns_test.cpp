#include "subtitles/columns.h"

#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/files.h"
#include "subtitles/editor_xml_reader.h"
#include "subtitles/fcpxml_writer.h"
#include "subtitles/premiere_writer.h"
#include "subtitles/srt_parser.h"
#include "subtitles/text_file.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

const std::string kSrt =
    "1\n01:01:01,900 --> 01:01:02,500\n第一句, 带逗号\n\n"
    "x\n25:00:00,000 --> 25:00:01,000\nA\tB\n";

TEST(Columns, TimesDropMillisecondsAndWrapHours) {
    EXPECT_EQ(columnTime(3661.9), "01:01:01");
    EXPECT_EQ(columnTime(3662.5), "01:01:02");
    EXPECT_EQ(columnTime(90000), "01:00:00");
    EXPECT_EQ(columnTime(std::numeric_limits<double>::infinity()), "00:00:00");
}

TEST(Columns, TabAndCommaTables) {
    const auto subtitles = SRTParser().parse(kSrt);
    EXPECT_EQ(tabColumns(subtitles),
              "序号 \t开始时码  \t结束时码  \t  文本\n"
              "1\t01:01:01\t01:01:02\t第一句, 带逗号\n"
              "0\t01:00:00\t01:00:01\tA\tB\n");
    EXPECT_EQ(commaColumns(subtitles),
              "序号,开始时码,结束时码,文本\n"
              "1,01:01:01,01:01:02,第一句, 带逗号\n"
              "0,01:00:00,01:00:01,A\tB\n");
    EXPECT_EQ(tabColumns({}), std::string(kColumnTabHeader));
    // The command line's CSV reads back in a spreadsheet: fields quoted where they must be.
    auto withText = [&](std::string text) {
        auto list = subtitles;
        list[1].text = std::move(text);
        return csvColumns(list);
    };
    EXPECT_EQ(withText("Hello, \"world\"\nagain"),
              "序号,开始时码,结束时码,文本\n"
              "1,01:01:01,01:01:02,\"第一句, 带逗号\"\n"
              "0,01:00:00,01:00:01,\"Hello, \"\"world\"\"\nagain\"\n");
    EXPECT_EQ(withText("plain"),
              "序号,开始时码,结束时码,文本\n"
              "1,01:01:01,01:01:02,\"第一句, 带逗号\"\n"
              "0,01:00:00,01:00:01,plain\n");
}

TEST(ColumnsScreen, OpensSrtAndWritesFilesForTheEditors) {
    TempDir dir;
    writeTestFile(dir / "a.srt", kSrt);
    SrttoColumModel model;
    ConsoleCapture console;
    ASSERT_TRUE(model.openFile(dir / "a.srt"));
    EXPECT_TRUE(console.contains("成功加载文件de扩展名是:srt"));
    EXPECT_TRUE(console.contains("成功加载TXT文件: a.srt\n内容预览:  "));
    EXPECT_EQ(model.filename, "a.srt");
    EXPECT_EQ(model.srtText, kSrt);
    EXPECT_EQ(model.txtText, "第一句, 带逗号\nA\tB\n");
    EXPECT_EQ(model.columText, tabColumns(SRTParser().parse(kSrt)));
    EXPECT_EQ(model.numberText, commaColumns(SRTParser().parse(kSrt)));

    TempDir out;
    const auto csv = model.writeColumnsForSpreadsheet(out.path());
    ASSERT_TRUE(csv);
    EXPECT_EQ(*csv, out / "a.srt.csv");
    EXPECT_EQ(readFile(*csv), model.columText);
    const auto txt = model.writeTextForEditor(out.path());
    ASSERT_TRUE(txt);
    EXPECT_EQ(readFile(*txt), model.txtText);
    EXPECT_FALSE(model.writeTextForEditor(out / "missing-folder"));

    // An unreadable SRT empties the texts; an extension the tool does not open changes nothing.
    writeTestFile(dir / "b.SRT", "\xFF\xFE");
    console.clear();
    ASSERT_TRUE(model.openFile(dir / "b.SRT"));
    EXPECT_EQ(console.lines().at(1).rfind("Error reading file: ", 0), 0u);
    EXPECT_EQ(model.srtText, "");
    EXPECT_EQ(model.columText, std::string(kColumnTabHeader));
    writeTestFile(dir / "c.txt", kSrt);
    EXPECT_FALSE(model.openFile(dir / "c.txt"));
    EXPECT_EQ(model.filename, "b.SRT");
}

TEST(ColumnsScreen, OpensEditorDocuments) {
    TempDir dir;
    writeTestFile(dir / "t.srt", "1\n00:00:01,500 --> 00:00:03,000\n你好\n");
    const auto fcpxml = convertSRTtoFCPXMLPublic(dir / "t.srt", {});
    std::filesystem::create_directory(dir / "t.fcpxmld");
    std::filesystem::copy_file(fcpxml, dir / "t.fcpxmld" / "Info.fcpxml");
    const auto premiere = writesrttoprbgxml(dir / "t.srt", 25, 1920, 1080, false);

    const std::string fromFcpxml = "1\n00:00:01,480 --> 00:00:02,960\n你好\n\n\n";
    SrttoColumModel model;
    ConsoleCapture console;
    ASSERT_TRUE(model.openFile(dir / "t.fcpxmld"));
    EXPECT_TRUE(console.contains("myfcppath=" + (dir / "t.fcpxmld").string()));
    EXPECT_EQ(model.srtText, fromFcpxml);
    EXPECT_EQ(model.txtText, "你好\n");
    EXPECT_EQ(model.filename, "t.fcpxmld");
    ASSERT_TRUE(model.openFile(fcpxml));
    EXPECT_EQ(model.srtText, fromFcpxml);
    ASSERT_TRUE(model.openFile(premiere));
    EXPECT_EQ(model.srtText, "1\n00:00:01,520 --> 00:00:03,000\n你好\n\n\n");
    EXPECT_EQ(model.columText, std::string(kColumnTabHeader) + "1\t00:00:01\t00:00:03\t你好\n");

    EXPECT_EQ(loadSubtitleFileAsSrt(dir / "t.fcpxmld"), fromFcpxml);
    EXPECT_THROW(loadSubtitleFileAsSrt(dir / "t.doc"), TextFileError);
    writeTestFile(dir / "bad.xml", "<xmeml>");
    EXPECT_THROW(loadSubtitleFileAsSrt(dir / "bad.xml"), EditorXmlError);
    EXPECT_THROW(loadSubtitleFileAsSrt(dir / "none.fcpxmld"), EditorXmlError);
}

}  // namespace
}  // namespace quillora
