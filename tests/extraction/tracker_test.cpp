#include <gtest/gtest.h>

#include "extraction/subtitle_tracker.h"
#include "extraction/text_measures.h"
#include "platform/console.h"

namespace quillora::extraction {
namespace {

// Feeds one text per frame at the fixed 25 per second.
void feed(SubtitleTracker& tracker, int firstFrame, int frames, const std::string& text) {
    for (int i = firstFrame; i < firstFrame + frames; ++i)
        tracker.addSubtitle(text, i / 25.0, i);
}

TEST(NoiseFilter, DropsLoneLettersDigitsPairsAndShortLatinText) {
    ConsoleCapture capture;
    EXPECT_TRUE(isNoiseText("A"));
    EXPECT_TRUE(capture.contains("🔇 过滤单个字母噪声: 'A'"));
    EXPECT_TRUE(isNoiseText(" 7 "));
    EXPECT_TRUE(capture.contains("🔇 过滤单个数字噪声: '7'"));
    EXPECT_TRUE(isNoiseText("A7"));
    EXPECT_TRUE(isNoiseText("7A"));
    EXPECT_TRUE(capture.contains("🔇 过滤字母数字组合噪声: '7A'"));
    EXPECT_TRUE(isNoiseText("ab"));
    EXPECT_TRUE(capture.contains("🔇 过滤过短文本噪声: 'ab'"));
    EXPECT_TRUE(isNoiseText("   "));
    EXPECT_FALSE(isNoiseText("abc"));
    EXPECT_FALSE(isNoiseText("好"));
    EXPECT_FALSE(isNoiseText("你好"));
    // A two-character core that is not a letter-digit pair is kept only with an ideograph.
    EXPECT_TRUE(isNoiseText("a-b"));
    EXPECT_FALSE(isNoiseText("你-好"));
}

TEST(NoiseFilter, CleaningKeepsMoreThanOneCharacter) {
    EXPECT_EQ(cleanRecognizedText("好"), "");
    EXPECT_EQ(cleanRecognizedText("你好"), "你好");
    EXPECT_EQ(cleanRecognizedText("  Hello\n\n  world \t again "), "Hello world again");
    EXPECT_EQ(cleanRecognizedText("abc"), "abc");
    EXPECT_EQ(cleanRecognizedText("ab"), "");
    EXPECT_EQ(cleanRecognizedText(""), "");
}

TEST(TextSimilarity, IgnoresPunctuationCaseAndOrder) {
    EXPECT_TRUE(areTextsSimilar("Hello, World", "hello world!"));
    EXPECT_TRUE(areTextsSimilar("大家好", "好大家"));
    EXPECT_FALSE(areTextsSimilar("大家好", "再见了"));
    // 5 shared of 6 distinct characters; 4 of 7 is not enough.
    EXPECT_TRUE(areTextsSimilar("今天天气很好", "今天天气很好啊"));
    EXPECT_FALSE(areTextsSimilar("今天天气很好", "今天天气不错好"));
    // 3 of 5 = 0.6 is not enough.
    EXPECT_FALSE(areTextsSimilar("abcd", "abce"));
}

TEST(TextQuality, ScoresLengthIdeographsAndPunctuation) {
    EXPECT_EQ(calculateTextQuality(""), 0.0);
    // 20 ideographs: 0.3 + 0.4 + 0.05.
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += "字";
    EXPECT_NEAR(calculateTextQuality(twenty), 0.75, 1e-9);
    EXPECT_NEAR(calculateTextQuality("你好。"), 0.3 * 0.15 + 0.4 * 2 / 3.0 + 0.15 + 0.05, 1e-9);
    EXPECT_LE(calculateTextQuality(twenty + "，" + "。"), 1.0);
}

class TrackerTest : public ::testing::Test {
  protected:
    SubtitleTracker tracker;
    ConsoleCapture capture;
};

TEST_F(TrackerTest, SingleFrameSubtitleLastsEightyMilliseconds) {
    feed(tracker, 10, 1, "第一句话");
    feed(tracker, 11, 5, "完全不同");
    tracker.finalizeCurrentSubtitle(15 / 25.0, 15);
    ASSERT_EQ(tracker.currentSubtitles.size(), 2u);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].startTime, 0.4);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].endTime, 0.48);
    EXPECT_EQ(tracker.currentSubtitles[0].index, 1);
    EXPECT_EQ(tracker.currentSubtitles[1].index, 2);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[1].endTime, 0.6);
    EXPECT_TRUE(capture.contains("🎬 开始新字幕 [帧10]: '第一句话' 时间: 0.400s"));
    EXPECT_TRUE(capture.contains("✅ 完成字幕 #1: '第一句话'"));
    EXPECT_TRUE(capture.contains("   📊 帧范围: 10-10 (1帧)"));
    EXPECT_TRUE(capture.contains("   ⏱️ 时间: 0.400s → 0.480s"));
    EXPECT_TRUE(capture.contains("   🎞️ 持续时间: 0.080s"));
    EXPECT_FALSE(tracker.hasOpenSubtitle());
}

TEST_F(TrackerTest, LongSubtitleIsCutToEightSeconds) {
    feed(tracker, 0, 300, "很长的一句字幕");
    tracker.finalizeCurrentSubtitle(300 / 25.0, 300);
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].endTime, 8.0);
}

TEST_F(TrackerTest, ToleratesOneEmptyFrameAndClosesOnTwo) {
    feed(tracker, 0, 5, "你好世界");
    feed(tracker, 5, 1, "");
    feed(tracker, 6, 4, "你好世界");
    EXPECT_TRUE(tracker.currentSubtitles.empty());
    feed(tracker, 10, 1, "");
    EXPECT_TRUE(tracker.currentSubtitles.empty());
    feed(tracker, 11, 1, "A");  // noise counts as empty
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].startTime, 0.0);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].endTime, 9 / 25.0);
    EXPECT_FALSE(tracker.hasOpenSubtitle());
}

TEST_F(TrackerTest, KeepsTheBestReadingButComparesWithTheOpeningText) {
    std::vector<std::vector<SRTSubtitle>> published;
    tracker.onPublish = [&](const auto& list) { published.push_back(list); };
    feed(tracker, 0, 2, "今天天气很好");
    feed(tracker, 2, 2, "今天天气很好。");  // longer: replaces
    feed(tracker, 4, 2, "今天天气很好！");  // equal length and quality: first stays
    feed(tracker, 6, 2, "今天天气很好呀");  // same length, one more ideograph: replaces
    tracker.finalizeCurrentSubtitle(7 / 25.0, 7);
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_EQ(tracker.currentSubtitles[0].text, "今天天气很好呀");
    EXPECT_EQ(tracker.subtitleState.currentText, "");
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].size(), 1u);
}

TEST_F(TrackerTest, EqualReadingsKeepTheFirstUnlessStrictlyBetter) {
    feed(tracker, 0, 2, "abc def");
    feed(tracker, 2, 2, "def abc");
    tracker.finalizeCurrentSubtitle(3 / 25.0, 3);
    EXPECT_EQ(tracker.currentSubtitles.at(0).text, "abc def");
}

TEST_F(TrackerTest, OutOfOrderCloseBeforeStartGivesShortEntry) {
    tracker.startNewSubtitle("测试字幕", 1.0, 25);
    tracker.finalizeCurrentSubtitle(0.9, 22);
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].endTime, 1.08);
}

TEST_F(TrackerTest, QuietWhenDebugIsOff) {
    tracker.debugEnabled = false;
    feed(tracker, 0, 3, "安静的字幕");
    tracker.finalizeCurrentSubtitle(2 / 25.0, 2);
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(tracker.currentSubtitles.size(), 1u);
}

}  // namespace
}  // namespace quillora::extraction
