#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "extraction/frame_recognition.h"
#include "extraction/test_videos.h"
#include "extraction/text_measures.h"
#include "extraction/video_processor.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/media/media_file.h"
#include "platform/ocr/text_recognizer.h"
#include "support/temp_home.h"

namespace quillora::extraction {
namespace {

using quillora::testing::Cue;
using ::testing::HasSubstr;

class VideoProcessorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new quillora::testing::TempDir();
        video_ = folder_->path() / "clip.one.mp4";
        ASSERT_TRUE(
            quillora::testing::makeSubtitledVideo(video_, 4.0,
                                                  {{0.4, 1.6, "大家好，欢迎收看今天的节目"},
                                                   {2.0, 3.4, "Hello everyone, welcome back"}}));
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    std::vector<VideoResult> run(VideoProcessor& processor,
                                 const std::vector<std::filesystem::path>& videos) {
        processor.processVideos(videos);
        processor.waitUntilFinished();
        return processor.results();
    }

    static quillora::testing::TempDir* folder_;
    static std::filesystem::path video_;
    quillora::testing::TempDir scratch_;
    ConsoleCapture capture_;
};

quillora::testing::TempDir* VideoProcessorTest::folder_ = nullptr;
std::filesystem::path VideoProcessorTest::video_;

TEST_F(VideoProcessorTest, ExtractsSubtitlesBesideTheVideo) {
    VideoProcessor processor;
    std::vector<ProcessorSnapshot> seen;
    processor.setObserver([&](const ProcessorSnapshot& s) { seen.push_back(s); });
    const auto results = run(processor, {video_});
    ASSERT_EQ(results.size(), 1u);
    ASSERT_TRUE(results[0].success) << results[0].errorMessage.value_or("");
    const auto srtPath = folder_->path() / "clip.one.srt";
    EXPECT_EQ(results[0].filePath, srtPath.string());
    EXPECT_EQ(results[0].framesSampled, 100);
    EXPECT_LT(results[0].recognitionCalls, 20);  // only changed text regions are read

    const auto s = processor.snapshot();
    ASSERT_EQ(s.subtitles.size(), 2u);
    EXPECT_EQ(s.subtitles[0].text, "大家好，欢迎收看今天的节目");
    EXPECT_EQ(s.subtitles[1].text, "Hello everyone, welcome back");
    // Within two frames of the burned-in times.
    for (const auto& [k, start, end] : {std::tuple{0, 0.4, 1.6}, std::tuple{1, 2.0, 3.4}}) {
        EXPECT_NEAR(s.subtitles[k].startTime, start, 0.081);
        EXPECT_NEAR(s.subtitles[k].endTime, end, 0.081);
    }
    EXPECT_EQ(readFile(srtPath), srtText(s.subtitles));
    EXPECT_EQ(s.progress, 1.0);
    EXPECT_FALSE(s.isProcessing);
    EXPECT_EQ(s.processedFiles, 1);
    EXPECT_EQ(s.currentProcessingFile, "处理完成: 1/1 个文件");

    const auto started = std::find_if(seen.begin(), seen.end(),
                                      [](const auto& snapshot) { return snapshot.isProcessing; });
    ASSERT_NE(started, seen.end());
    EXPECT_EQ(started->currentProcessingFile, "正在处理: clip.one.mp4 (1/1)");
    EXPECT_EQ(started->totalFiles, 1);
    for (size_t k = 1; k < seen.size(); ++k)
        EXPECT_GE(seen[k].progress, seen[k - 1].progress);

    for (const char* line :
         {"开始处理视频: clip.one.mp4", "时长: 4.0秒，总帧数: 100", "识别时间范围: 0.0 - 930.0秒",
          "实际处理帧范围: 0 - 100，共100帧", "✅ 视频处理完成: clip.one.mp4", "   有效字幕块数: 2"})
        EXPECT_TRUE(capture_.contains(line)) << line;
}

TEST_F(VideoProcessorTest, RecognisesOnlyInsideTheRegion) {
    media::VideoFrameReader reader(video_);
    ASSERT_TRUE(reader.advanceTo(1.0));
    const auto frame = reader.crop({0, 0, reader.width(), reader.height()});
    ocr::TextRecognizer recognizer;
    EXPECT_EQ(recognizeTextWithCroppedImage(frame, {0.0, 0.0, 1.0, 0.5}, recognizer), "");
    const auto rect = cropRect({0.1, 0.8, 0.5, 0.2}, 641, 359);
    EXPECT_EQ(std::tuple(rect.x, rect.y, rect.width, rect.height), std::tuple(64, 287, 320, 71));
}

// A region cutting through a cue, or reaching well above it, gives the cue whole.
TEST_F(VideoProcessorTest, TheTextDoesNotHingeOnTheRegionsEdges) {
    const auto video = scratch_ / "two-lines.mp4";
    quillora::testing::VideoStyle style;
    style.width = 1280;
    style.height = 720;
    ASSERT_TRUE(quillora::testing::makeSubtitledVideo(
        video, 1.0, {{0.0, 1.0, "第一行字幕\n第二行比较长的字幕"}}, style));
    media::VideoFrameReader reader(video);
    ASSERT_TRUE(reader.advanceTo(0.5));
    const auto frame = reader.crop({0, 0, reader.width(), reader.height()});
    ocr::TextRecognizer recognizer;
    for (const double top : {0.87, 0.8, 0.6}) {
        EXPECT_EQ(recognizeTextWithCroppedImage(frame, {0.0, top, 1.0, 0.98 - top}, recognizer),
                  "第一行字幕 第二行比较长的字幕")
            << top;
    }
}

TEST_F(VideoProcessorTest, TraditionalVideoComesOutTraditional) {
    const auto video = scratch_ / "traditional.mp4";
    quillora::testing::VideoStyle style;
    style.width = 1280;
    style.height = 720;
    ASSERT_TRUE(quillora::testing::makeSubtitledVideo(video, 6.0,
                                                      {{0.2, 1.4, "這個問題需要認真對待，謝謝"},
                                                       {1.6, 2.8, "經濟發展需要長期的規劃"},
                                                       {3.0, 4.2, "我們應該學習新的技術"},
                                                       {4.4, 5.8, "這部電影講述了一個感人的故事"}},
                                                      style));
    VideoProcessor processor;
    const auto results = run(processor, {video});
    ASSERT_TRUE(results.at(0).success);
    const auto s = processor.snapshot();
    ASSERT_EQ(s.subtitles.size(), 4u);
    EXPECT_NE(s.subtitles[2].text.find("我們應該學習"), std::string::npos) << s.subtitles[2].text;
    EXPECT_NE(s.subtitles[3].text.find("這部電影講述"), std::string::npos) << s.subtitles[3].text;
}

TEST_F(VideoProcessorTest, BadFilesFailAloneAndTheBatchGoesOn) {
    const auto empty = scratch_ / "empty.mp4";
    const auto text = scratch_ / "notes.mp4";
    const auto audio = scratch_ / "voice.m4a";
    quillora::testing::writeTestFile(empty, "");
    quillora::testing::writeTestFile(text, "这不是视频文件，只是几行文字。\n");
    ASSERT_TRUE(quillora::testing::runQuietly("ffmpeg -nostdin -y -f lavfi -i sine=d=2 -c:a aac '" +
                                              audio.string() + "'"));

    VideoProcessor processor;
    const auto results = run(processor, {empty, text, audio, video_});
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].errorMessage, "无法读取视频时长: empty.mp4");
    ASSERT_TRUE(results[1].errorMessage);
    EXPECT_THAT(*results[1].errorMessage, HasSubstr("处理视频失败: "));
    EXPECT_THAT(*results[1].errorMessage, HasSubstr(" - notes.mp4"));
    EXPECT_EQ(results[2].errorMessage, "无法读取视频轨道: voice.m4a");
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(results[k].success, k == 3) << k;
    const auto s = processor.snapshot();
    EXPECT_EQ(s.currentProcessingFile, "处理完成: 4/4 个文件");
    EXPECT_EQ(s.processedFiles, 4);
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "empty.srt"));
}

TEST_F(VideoProcessorTest, ShortVideoAndEmptyRegionGiveNoSubtitles) {
    VideoProcessor processor;
    processor.setRecognitionTimeRange({10.0, 930.0});
    auto results = run(processor, {video_});
    EXPECT_EQ(results.at(0).errorMessage, "视频时长(4.0秒)短于最小识别时间(10.0秒)");

    processor.setRecognitionTimeRange({});
    processor.setRecognitionRegion({0.0, 0.8, 0.0, 0.2});
    EXPECT_TRUE(capture_.contains("设置识别区域：x=0.0, y=0.8, width=0.0, height=0.2"));
    results = run(processor, {video_});
    EXPECT_FALSE(results.at(0).success);
    EXPECT_EQ(results[0].errorMessage, "没有可保存的字幕内容");
    EXPECT_EQ(results[0].recognitionCalls, 0);
    EXPECT_TRUE(processor.snapshot().subtitles.empty());
    EXPECT_TRUE(capture_.contains("❌ 保存失败: 没有可保存的字幕内容"));
}

TEST_F(VideoProcessorTest, TimeRangeLimitsTheFramesExamined) {
    VideoProcessor processor;
    processor.setRecognitionTimeRange({1.8, 3.0});
    const auto results = run(processor, {video_});
    ASSERT_TRUE(results.at(0).success);
    EXPECT_EQ(results[0].framesSampled, 30);
    EXPECT_TRUE(capture_.contains("实际处理帧范围: 45 - 75，共30帧"));
    const auto s = processor.snapshot();
    ASSERT_EQ(s.subtitles.size(), 1u);
    EXPECT_EQ(s.subtitles[0].text, "Hello everyone, welcome back");
    // Still open at the end of the range: closed at the end frame.
    EXPECT_NEAR(s.subtitles[0].endTime, 3.0, 1e-9);
}

TEST_F(VideoProcessorTest, DataEndingEarlySkipsTheFramesItLacks) {
    // An index that promises 6 s over data that stops after about 3 s, as a cut-off download
    // (key frames only, so that half the bytes hold half the pictures).
    const auto whole = scratch_ / "whole.mp4";
    const auto cut = scratch_ / "cut.mp4";
    ASSERT_TRUE(quillora::testing::makeSubtitledVideo(whole, 6.0,
                                                      {{0.4, 6.0, "大家好，欢迎收看今天的节目"}},
                                                      {.extra = "-g 1 -movflags +faststart"}));
    const std::string bytes = readFile(whole);
    quillora::testing::writeTestFile(cut, bytes.substr(0, bytes.size() / 2));

    VideoProcessor processor;
    const auto results = run(processor, {cut});
    ASSERT_TRUE(results.at(0).success) << results[0].errorMessage.value_or("");
    EXPECT_TRUE(capture_.contains("处理帧 149 失败: 无法解码视频帧"));
    EXPECT_LT(results[0].framesSampled, 120);
    const auto s = processor.snapshot();
    ASSERT_EQ(s.subtitles.size(), 1u);
    // Closed where the pictures end, not at the promised 6 s.
    EXPECT_LT(s.subtitles[0].endTime, 4.0);
}

TEST_F(VideoProcessorTest, ManualSaveWritesTheShownSubtitles) {
    VideoProcessor processor;
    bool asked = false;
    EXPECT_FALSE(processor.saveSRTFile([&]() -> std::optional<std::filesystem::path> {
        asked = true;
        return scratch_ / "never.srt";
    }));
    EXPECT_FALSE(asked);
    EXPECT_EQ(processor.snapshot().errorMessage, "没有可保存的字幕内容");

    run(processor, {video_});
    EXPECT_FALSE(processor.saveSRTFile([] { return std::optional<std::filesystem::path>(); }));
    const auto chosen = processor.saveSRTFile([&] { return std::optional(scratch_ / "mine.srt"); });
    ASSERT_TRUE(chosen);
    EXPECT_EQ(readFile(*chosen), srtText(processor.snapshot().subtitles));

    EXPECT_FALSE(processor.saveSRTFile(
        [&] { return std::optional(scratch_ / "missing" / "folder" / "x.srt"); }));
    EXPECT_THAT(processor.snapshot().errorMessage.value_or(""), HasSubstr("保存文件失败: "));

    processor.clearResults();
    const auto s = processor.snapshot();
    EXPECT_TRUE(s.subtitles.empty());
    EXPECT_EQ(s.totalFiles, 0);
    EXPECT_EQ(s.currentProcessingFile, "");
}

TEST_F(VideoProcessorTest, CancellingSavesNothing) {
    const auto copy = scratch_ / "copy.mp4";
    std::filesystem::copy_file(video_, copy);
    VideoProcessor processor;
    processor.setObserver([&](const ProcessorSnapshot& s) {
        if (s.progress > 0.2) processor.cancel();
    });
    processor.processVideos({copy, video_});
    processor.waitUntilFinished();
    EXPECT_TRUE(processor.results().empty());
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "copy.srt"));
    const auto s = processor.snapshot();
    EXPECT_FALSE(s.isProcessing);
    EXPECT_EQ(s.processedFiles, 0);
}

}  // namespace
}  // namespace quillora::extraction
