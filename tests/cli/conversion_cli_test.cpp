// Runs the quillora-cli binary's `convert` and `encoding` commands.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/process.h"
#include "support/temp_home.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;

ProcessResult cli(const std::vector<std::string>& arguments) {
    return runProcess((testing::binaryDir() / "src/cli/quillora-cli").string(), arguments);
}

TEST(ConversionCli, ConvertsWhatItCanAndNamesEachFailure) {
    testing::TempDir dir;
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=d=1 '" +
                           (dir / "talk.mp4").string() + "'")
                              .c_str()),
              0);
    testing::writeTestFile(dir / "broken.mov", "no media here");
    const auto run = cli({"convert", (dir / "talk.mp4").string(), (dir / "broken.mov").string(),
                          (dir / "gone.mp4").string(), "--to", "wav"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(fs::exists(dir / "talk.wav"));
    EXPECT_NE(run.standardOutput.find("转换完成: 1 个成功, 2 个失败"), std::string::npos);
    EXPECT_NE(run.standardError.find("❌ broken.mov: 无法打开媒体文件"), std::string::npos);
    EXPECT_NE(run.standardError.find("❌ gone.mp4: 找不到文件“gone.mp4”"), std::string::npos);
    EXPECT_NE(run.standardError.find("2 个文件转换失败"), std::string::npos);
    EXPECT_EQ(cli({"convert", (dir / "talk.mp4").string(), "--to", "flac"}).exitStatus, 2);

    // An existing result is kept unless -y says otherwise.
    testing::writeTestFile(dir / "talk.wav", "mine");
    const auto kept = cli({"convert", (dir / "talk.mp4").string(), "--to", "wav", "-n"});
    EXPECT_EQ(kept.exitStatus, 1);
    EXPECT_NE(kept.standardError.find("已存在"), std::string::npos) << kept.standardError;
    EXPECT_EQ(readFile(dir / "talk.wav"), "mine");
    EXPECT_EQ(cli({"convert", (dir / "talk.mp4").string(), "--to", "wav", "-y"}).exitStatus, 0);
    EXPECT_NE(readFile(dir / "talk.wav"), "mine");
}

TEST(ConversionCli, NamesEncodingsAndWritesAUtf8Copy) {
    testing::TempDir dir;
    const std::string text = "我們明天早上八點在車站見面，不要遲到喔！";
    testing::writeTestFile(dir / "utf8.txt", text);
    ASSERT_EQ(std::system(("iconv -f UTF-8 -t BIG5 '" + (dir / "utf8.txt").string() + "' > '" +
                           (dir / "big5.txt").string() + "'")
                              .c_str()),
              0);
    const auto run = cli({"encoding", (dir / "big5.txt").string(), (dir / "utf8.txt").string()});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput,
              (dir / "big5.txt").string() + ": BIG5\n" + (dir / "utf8.txt").string() + ": UTF-8\n");
    const auto converted =
        cli({"encoding", (dir / "big5.txt").string(), "--to-utf8", (dir / "out.txt").string()});
    EXPECT_EQ(converted.exitStatus, 0);
    EXPECT_EQ(readFile(dir / "out.txt"), text);
    const auto missing = cli({"encoding", (dir / "nope.txt").string()});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.standardError.find("文件未找到"), std::string::npos);
}

// Chinese SRT and script files often come in GBK, Big5 or UTF-16: every text input reads them.
TEST(ConversionCli, TextCommandsReadLegacyEncodingsAndSaySo) {
    testing::TempDir dir;
    const std::string srt =
        "1\n00:00:01,000 --> 00:00:02,500\n你好，世界\n\n2\n00:00:03,000 --> 00:00:04,000\n"
        "再见\n";
    testing::writeTestFile(dir / "utf8.srt", srt);
    ASSERT_EQ(std::system(("iconv -f UTF-8 -t GBK '" + (dir / "utf8.srt").string() + "' > '" +
                           (dir / "gbk.srt").string() + "'")
                              .c_str()),
              0);
    const std::string gbk = (dir / "gbk.srt").string();
    const std::vector<std::vector<std::string>> commands = {
        {"srt2fcpxml", gbk, "-o", (dir / "out.fcpxml").string()},
        {"srt2premiere", gbk, "-o", (dir / "out.xml").string()},
        {"count", gbk},
        {"columns", gbk},
        {"encode-script", gbk},
        {"decode-srt", gbk},
    };
    for (const auto& command : commands) {
        const auto run = cli(command);
        EXPECT_EQ(run.exitStatus, 0) << command[0] << ": " << run.standardError;
        EXPECT_NE(run.standardError.find("按 GB18030 编码读取"), std::string::npos) << command[0];
    }
    EXPECT_NE(readFile(dir / "out.fcpxml").find("你好，世界"), std::string::npos);
    EXPECT_NE(readFile(dir / "out.xml").find("再见"), std::string::npos);
    EXPECT_NE(cli({"columns", gbk}).standardOutput.find("你好，世界"), std::string::npos);

    // The named encoding wins; one the bytes are not valid in fails naming the file.
    EXPECT_EQ(cli({"count", "--encoding", "GBK", gbk}).exitStatus, 0);
    const auto wrong = cli({"count", "--encoding", "UTF-8", gbk});
    EXPECT_EQ(wrong.exitStatus, 1);
    EXPECT_NE(wrong.standardError.find("gbk.srt"), std::string::npos);
    // UTF-8 input says nothing about its encoding.
    EXPECT_EQ(cli({"decode-srt", (dir / "utf8.srt").string()}).standardError, "");
}

}  // namespace
}  // namespace quillora
