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

// Recognised lines also carry ideographic spaces, line separators, combining marks and emoji.
TEST(NoiseFilter, DropsLoneLettersDigitsPairsAndShortLatinText) {
    struct Case {
        std::string text;
        bool noise;
        std::string line;  // the console line that names the reason
    };
    const std::vector<Case> cases = {
        {"A", true, "🔇 过滤单个字母噪声: 'A'"},
        {"\u3000A\u2003", true, "🔇 过滤单个字母噪声: 'A'"},
        {" 7 ", true, "🔇 过滤单个数字噪声: '7'"},
        {"A7", true, ""},
        {"7A", true, "🔇 过滤字母数字组合噪声: '7A'"},
        {"ab", true, "🔇 过滤过短文本噪声: 'ab'"},
        {"\u00A0x\u3000y\n", true, "🔇 过滤过短文本噪声: 'x\u3000y'"},
        // Two characters in three code points are still too short.
        {"ab\u0301", true, "🔇 过滤过短文本噪声: 'ab\u0301'"},
        {"   ", true, ""},
        {"？！", true, ""},
        {"·.··，·～", true, "🔇 过滤过短文本噪声: '·.··，·～'"},
        // A two-character core that is not a letter-digit pair is kept only with an ideograph.
        {"a-b", true, ""},
        {"你-好", false, ""},
        {"abc", false, ""},
        {"a\u0301b\u0301c", false, ""},
        {"好", false, ""},
        {"你好", false, ""},
    };
    for (const auto& c : cases) {
        ConsoleCapture capture;
        EXPECT_EQ(isNoiseText(c.text), c.noise) << c.text;
        EXPECT_TRUE(c.line.empty() || capture.contains(c.line)) << c.text;
    }
}

TEST(NoiseFilter, CleaningKeepsMoreThanOneCharacterAndEveryUnicodeSpaceSeparates) {
    for (const auto& [raw, clean] : std::vector<std::pair<std::string, std::string>>{
             {"好", ""},
             {"你好", "你好"},
             {"ab", ""},
             {"abc", "abc"},
             {"", ""},
             {"  Hello\n\n  world \t again ", "Hello world again"},
             {"\u3000你好\u0085\v\u2028世界\u00A0 ", "你好 世界"},
             {"\u200B你好", "\u200B你好"}})  // a format character, kept
        EXPECT_EQ(cleanRecognizedText(raw), clean) << raw;
    EXPECT_EQ(words("a\u3000b\u2029\u2029c\u200Bd"),
              (std::vector<std::string>{"a", "b", "c\u200Bd"}));
}

TEST(TextSimilarity, IgnoresPunctuationCaseAndOrderOfAnyScript) {
    struct Case {
        std::string a, b;
        bool similar;
    };
    for (const auto& c : std::vector<Case>{
             {"Hello, World", "hello world!", true},
             {"大家好", "好大家", true},
             {"大家好", "再见了", false},
             // 5 shared of 6 distinct characters; 4 of 7 is not enough, nor is 3 of 5.
             {"今天天气很好", "今天天气很好啊", true},
             {"今天天气很好", "今天天气不错好", false},
             {"abcd", "abce", false},
             {"ΣΟΦΊΑ…", "σοφία", true},
             {"你\u3000好©", "你好", true},
             {"e\u0301e\u0301", "ee", false}})  // marks are not dropped
        EXPECT_EQ(areTextsSimilar(c.a, c.b), c.similar) << c.a << " / " << c.b;
    EXPECT_EQ(cleanTextForMergeComparison("«Ça» , va — ÉTÉ € 2 + 2"), "ça va été 2 2");
    EXPECT_EQ(cleanTextForMergeComparison("、。\u3000「你好」\u3000…"), "你好");
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
    EXPECT_EQ(countIdeographs("\u3400\u4E00\u9FFF\uF900"), 2);
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
    for (const char* line :
         {"🎬 开始新字幕 [帧10]: '第一句话' 时间: 0.400s", "✅ 完成字幕 #1: '第一句话'",
          "   📊 帧范围: 10-10 (1帧)", "   ⏱️ 时间: 0.400s → 0.480s",
          "   🎞️ 持续时间: 0.080s"})
        EXPECT_TRUE(capture.contains(line)) << line;
    EXPECT_FALSE(tracker.hasOpenSubtitle());
}

TEST_F(TrackerTest, LongSubtitleIsCutToEightSecondsQuietlyWithoutDebug) {
    tracker.debugEnabled = false;
    feed(tracker, 0, 300, "很长的一句字幕");
    tracker.finalizeCurrentSubtitle(300 / 25.0, 300);
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].endTime, 8.0);
    EXPECT_TRUE(capture.lines().empty());
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

    feed(tracker, 10, 2, "abc def");
    feed(tracker, 12, 2, "def abc");
    tracker.finalizeCurrentSubtitle(13 / 25.0, 13);
    EXPECT_EQ(tracker.currentSubtitles.at(1).text, "abc def");
}

TEST_F(TrackerTest, PartOfTheLineOnAFadesFirstFrameOpensNoSubtitleOfItsOwn) {
    feed(tracker, 0, 1, "这次我们一起");
    feed(tracker, 1, 5, "这次我们一起去山顶看日出");
    feed(tracker, 6, 5, "这次我们一起去山顶看日出吧");  // compared with the whole line now
    tracker.finalizeCurrentSubtitle(10 / 25.0, 10);
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_EQ(tracker.currentSubtitles[0].text, "这次我们一起去山顶看日出吧");
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].startTime, 0.0);

    feed(tracker, 20, 4, "第一句");
    feed(tracker, 24, 4, "第一句话说完了");
    tracker.finalizeCurrentSubtitle(27 / 25.0, 27);
    EXPECT_EQ(tracker.currentSubtitles.size(), 3u);
}

TEST_F(TrackerTest, OutOfOrderCloseBeforeStartGivesShortEntry) {
    tracker.startNewSubtitle("测试字幕", 1.0, 25);
    tracker.finalizeCurrentSubtitle(0.9, 22);
    ASSERT_EQ(tracker.currentSubtitles.size(), 1u);
    EXPECT_DOUBLE_EQ(tracker.currentSubtitles[0].endTime, 1.08);
}

}  // namespace
}  // namespace quillora::extraction
