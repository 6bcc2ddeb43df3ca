#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "extraction/test_videos.h"
#include "support/temp_home.h"

namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome runCli(const std::string& arguments, const std::filesystem::path& scratch) {
    const auto cli = quillora::testing::binaryDir() / "src/cli/quillora-cli";
    const auto errFile = scratch / "stderr.txt";
    const std::string command =
        "'" + cli.string() + "' " + arguments + " </dev/null 2>'" + errFile.string() + "'";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        outcome.out.append(buffer, n);
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.err = slurp(errFile);
    return outcome;
}

TEST(ExtractCommand, WritesSrtBesideEachVideoAndReportsFailures) {
    quillora::testing::TempDir dir;
    const auto video = dir / "talk.mp4";
    quillora::testing::VideoStyle style;
    style.width = 1280;
    style.height = 720;
    ASSERT_TRUE(quillora::testing::makeSubtitledVideo(video, 3.0,
                                                      {{0.4, 2.2, "我们应该学习新的技术"}}, style));
    quillora::testing::writeTestFile(dir / "broken.mp4", "not a video at all");

    auto ok = runCli("extract '" + video.string() + "'", dir.path());
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("✅ talk.mp4: 1 条字幕 → " + (dir / "talk.srt").string()),
              std::string::npos)
        << ok.out;
    EXPECT_NE(slurp(dir / "talk.srt").find("我们应该学习新的技术"), std::string::npos);
    // Not a terminal: plain progress lines, and no diagnostics without -v.
    EXPECT_NE(ok.err.find("正在处理: talk.mp4 (1/1) 100%"), std::string::npos) << ok.err;
    EXPECT_EQ(ok.err.find("🎬"), std::string::npos) << ok.err;

    auto mixed = runCli("extract -y '" + (dir / "broken.mp4").string() + "' '" + video.string() +
                            "' --from 0 --to 2",
                        dir.path());
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.err.find("❌ broken.mp4: 处理视频失败: "), std::string::npos) << mixed.err;
    EXPECT_NE(mixed.out.find("✅ talk.mp4: 1 条字幕"), std::string::npos) << mixed.out;
    EXPECT_NE(mixed.err.find("quillora-cli: 1 个视频未能提取字幕"), std::string::npos);

    auto traced = runCli("extract -v -y '" + video.string() + "' --region 0,0.8,1,0.2", dir.path());
    EXPECT_EQ(traced.status, 0);
    EXPECT_NE(traced.err.find("设置识别区域：x=0.0, y=0.8, width=1.0, height=0.2"),
              std::string::npos);
    EXPECT_NE(traced.err.find("🎬 开始新字幕"), std::string::npos);

    EXPECT_EQ(runCli("extract '" + video.string() + "' --region 0,0.8,1", dir.path()).status, 2);

    // Refused before any work: a missing video, an existing SRT (not asked off a terminal), a
    // folder that cannot take the SRT. Each says which file, once, on stderr.
    quillora::testing::writeTestFile(dir / "talk.srt", "mine");
    const std::string refusals[][2] = {
        {"extract nope.mp4", "没有这个文件: nope.mp4"},
        {"extract '" + video.string() + "'", "已存在"},
        {"extract -n '" + video.string() + "'", "已存在"},
        {"extract -y -o /proc '" + video.string() + "'", "无法写入 /proc/talk.srt"},
        {"extract -o '" + (dir / "none").string() + "' '" + video.string() + "'",
         "输出文件夹不存在"},
    };
    for (const auto& [command, message] : refusals) {
        const auto refused = runCli(command, dir.path());
        EXPECT_EQ(refused.status, 1) << command;
        EXPECT_NE(refused.err.find(message), std::string::npos) << command << ": " << refused.err;
        EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    }
    EXPECT_EQ(slurp(dir / "talk.srt"), "mine");

    std::filesystem::create_directory(dir / "out");
    auto elsewhere =
        runCli("extract -o '" + (dir / "out").string() + "' '" + video.string() + "'", dir.path());
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
    EXPECT_NE(slurp(dir / "out/talk.srt").find("我们应该学习新的技术"), std::string::npos);
}

// Ctrl-C (or a termination request) stops the work, says so and keeps the SRT that was there.
TEST(ExtractCommand, InterruptKeepsExistingFiles) {
    quillora::testing::TempDir dir;
    const auto video = dir / "long.mp4";
    ASSERT_TRUE(quillora::testing::makeSubtitledVideo(video, 60.0, {{0.4, 50.0, "很长的一句话"}}));
    quillora::testing::writeTestFile(dir / "long.srt", "mine");
    const auto cli = quillora::testing::binaryDir() / "src/cli/quillora-cli";
    // Interrupted once it reports progress: on an idle machine the whole video took less than
    // a fixed wait.
    const std::string command =
        "'" + cli.string() + "' extract -y '" + video.string() + "' </dev/null 2>'" +
        (dir / "err.txt").string() + "' & pid=$!; for i in $(seq 600); do grep -q 正在处理 '" +
        (dir / "err.txt").string() + "' && break; sleep 0.05; done; kill -TERM $pid; wait $pid";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_NE(slurp(dir / "err.txt").find("quillora-cli: 已取消"), std::string::npos);
    EXPECT_EQ(slurp(dir / "long.srt"), "mine");
    EXPECT_EQ(runCli("extract '" + video.string() + "' --region 0,0.8,2,0.2", dir.path()).status,
              2);
}

}  // namespace
