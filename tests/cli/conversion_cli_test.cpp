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

}  // namespace
}  // namespace quillora
