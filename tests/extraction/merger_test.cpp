#include <gtest/gtest.h>

#include "extraction/srt_subtitle.h"
#include "extraction/subtitle_merger.h"
#include "extraction/text_measures.h"
#include "platform/console.h"

namespace quillora::extraction {
namespace {

SRTSubtitle entry(double start, double end, const std::string& text) {
    return makeSubtitle(0, start, end, text);
}

TEST(MergeMeasures, EdgeValuesCountingGraphemeClusters) {
    EXPECT_EQ(calculateMergeSimilarity("字幕", "字幕", false), 1.0);
    EXPECT_EQ(calculateMergeSimilarity("", "", false), 1.0);
    EXPECT_EQ(calculateMergeSimilarity("abc", "", false), 0.0);
    EXPECT_EQ(calculateMergeSimilarity("", "abc", false), 0.0);
    EXPECT_EQ(editDistance("kitten", "sitting"), 3);
    EXPECT_EQ(editDistance("", "你好"), 2);
    EXPECT_EQ(editDistance("cafe\u0301", "cafe"), 1);
    EXPECT_EQ(longestCommonSubsequence("今天天气好", "今天气很好"), 4);
    EXPECT_EQ(longestCommonSubsequence("👍🏽好", "👍好"), 1);
    EXPECT_EQ(characterCount("e\u0301👍🏽🇨🇳한"), 4u);
    EXPECT_DOUBLE_EQ(calculateEditDistanceSimilarity("", ""), 1.0);
    EXPECT_DOUBLE_EQ(calculateLCSSimilarity("a", ""), 0.0);
    EXPECT_DOUBLE_EQ(calculateWordOverlapSimilarity("a b c", "b c d"), 0.5);
    EXPECT_DOUBLE_EQ(calculateWordOverlapSimilarity("", "  "), 1.0);
    EXPECT_DOUBLE_EQ(calculateCharacterOverlap("aab", "abb"), 1.0);
    EXPECT_EQ(cleanTextForMergeComparison(" Hello， World！ "), "hello world");
}

TEST(MergeMeasures, WeightedScorePrintsItsParts) {
    ConsoleCapture capture;
    // e = 1 - 1/3, l = 2/3, w = 0, c = 2/4.
    const double score = calculateMergeSimilarity("你好吗", "你好呀", true);
    EXPECT_NEAR(score, 0.4 * (2 / 3.0) + 0.3 * (2 / 3.0) + 0.2 * 0 + 0.1 * 0.5, 1e-9);
    for (const char* line : {"      编辑距离相似度: 0.667", "      LCS相似度: 0.667",
                             "      词汇重叠: 0.000", "      字符重叠: 0.500"})
        EXPECT_TRUE(capture.contains(line)) << line;
}

TEST(FrameSnapping, MovesStartsPastThePreviousEndAndKeepsTwoFrames) {
    SubtitleMerger merger;
    const auto out =
        merger.basicFrameProcessing({entry(0.0, 0.04, "甲乙"), entry(0.02, 0.10, "丙丁")});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_DOUBLE_EQ(out[0].startTime, 0.0);
    EXPECT_DOUBLE_EQ(out[0].endTime, 2 / 25.0);
    EXPECT_DOUBLE_EQ(out[1].startTime, 3 / 25.0);
    EXPECT_DOUBLE_EQ(out[1].endTime, 5 / 25.0);
    EXPECT_EQ(out[1].index, 2);
}

TEST(MergeWindow, OneSecondGapMergesButNotMore) {
    ConsoleCapture capture;
    SubtitleMerger merger;
    auto merged = merger.mergeSimilarSubtitlesInOneSecond(
        {entry(1.0, 2.0, "同一句话"), entry(3.0, 4.0, "同一句话")});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_DOUBLE_EQ(merged[0].startTime, 1.0);
    EXPECT_DOUBLE_EQ(merged[0].endTime, 4.0);
    for (const char* line :
         {"🔄 检测到可合并字幕: '同一句话' + '同一句话'", "   时间间隔: 1.000s",
          "🎯 合并完成: 2 → 1 个字幕", "🧩 合并组(2个字幕): '同一句话'",
          "   📊 帧数: 52 → 76, 时间: 3.00s → 3.00s"})
        EXPECT_TRUE(capture.contains(line)) << line;

    merged = merger.mergeSimilarSubtitlesInOneSecond(
        {entry(1.0, 2.0, "同一句话"), entry(3.04, 4.0, "同一句话")});
    EXPECT_EQ(merged.size(), 2u);
    // Each entry is compared with the one before it, so a group may drift.
    merged = merger.mergeSimilarSubtitlesInOneSecond(
        {entry(0, 1, "abcdef"), entry(1.1, 2, "abcdxy"), entry(2.1, 3, "abwzxy")});
    EXPECT_EQ(merged.size(), 1u);
}

TEST(MergeWindow, MergedDurationIsBounded) {
    SubtitleMerger merger;
    merger.debugEnabled = false;
    auto shortGroup =
        merger.mergeSubtitleGroup({entry(1.0, 1.1, "短句子"), entry(1.2, 1.3, "短句子")});
    ASSERT_TRUE(shortGroup);
    EXPECT_DOUBLE_EQ(shortGroup->endTime, 1.8);
    EXPECT_EQ(shortGroup->index, 0);
    auto longGroup =
        merger.mergeSubtitleGroup({entry(0.0, 6.0, "长句子"), entry(6.5, 12.0, "长句子")});
    EXPECT_DOUBLE_EQ(longGroup->endTime, 8.0);
    auto single = entry(5, 6, "单独");
    single.index = 7;
    auto same = merger.mergeSubtitleGroup({single});
    EXPECT_EQ(same->id, single.id);
    EXPECT_EQ(same->index, 7);
    EXPECT_FALSE(merger.mergeSubtitleGroup({}));
}

TEST(MergeText, CommonWordsAreSortedAndLongestTextWinsOtherwise) {
    SubtitleMerger merger;
    merger.debugEnabled = false;
    EXPECT_EQ(
        merger.mergeTextContents({entry(0, 1, "the quick fox"), entry(1, 2, "quick the dog")}),
        "quick the");
    EXPECT_EQ(merger.mergeTextContents({entry(0, 1, "你好"), entry(1, 2, "你好啊")}), "你好啊");
    EXPECT_EQ(merger.mergeTextContents({entry(0, 1, "同样"), entry(1, 2, "同样")}), "同样");
    EXPECT_EQ(merger.selectBestTextForMerge({}), "");
}

TEST(MergeText, ThreeReadingsOfOneLineBecomeTheLongest) {
    ConsoleCapture capture;
    SubtitleMerger merger;
    const std::vector<SRTSubtitle> readings{entry(0.0, 0.2, "我们明天一起去看电影"),
                                            entry(0.3, 0.5, "我们明天一起去看电影。"),
                                            entry(0.6, 0.8, "我们明天一起去看电彩")};
    EXPECT_TRUE(merger.areAllTextsSimilar(readings));
    const auto out = merger.mergeSimilarSubtitlesInOneSecond(readings);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].text, "我们明天一起去看电影。");
    EXPECT_DOUBLE_EQ(out[0].endTime, 0.8);
}

TEST(Timeline, PushesOverlapsBoundsDurationsAndRenumbers) {
    SubtitleMerger merger;
    merger.debugEnabled = false;
    const auto out = merger.finalizeTimeline(
        {entry(0.0, 2.0, "一"), entry(1.5, 3.0, "二"), entry(2.9, 3.1, "三"), entry(5, 20, "四")});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_DOUBLE_EQ(out[1].startTime, 2.04);
    EXPECT_DOUBLE_EQ(out[1].endTime, 3.0);
    EXPECT_DOUBLE_EQ(out[2].startTime, 3.0 + 0.04);  // the second entry ended at 3.0
    EXPECT_DOUBLE_EQ(out[2].endTime, 3.0 + 0.04 + 0.8);
    EXPECT_DOUBLE_EQ(out[3].endTime, 13.0);
    for (size_t k = 0; k < out.size(); ++k)
        EXPECT_EQ(out[k].index, static_cast<int>(k) + 1);
}

TEST(PostProcessing, WholePassPrintsSummary) {
    ConsoleCapture capture;
    SubtitleMerger merger;
    EXPECT_TRUE(merger.postProcessSubtitles({}).empty());
    EXPECT_TRUE(capture.lines().empty());
    const auto out = merger.postProcessSubtitles(
        {entry(0.0, 1.0, "第一句"), entry(1.2, 2.0, "第一句。"), entry(5.0, 6.0, "第二句")});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].index, 1);
    EXPECT_EQ(out[0].text, "第一句。");
    EXPECT_TRUE(capture.contains("🔧 开始后处理，原始字幕数: 3"));
    EXPECT_TRUE(capture.contains("🎯 后处理完成，最终字幕数: 2"));
    EXPECT_TRUE(capture.contains("   #2: 帧125-150 (26帧, 1.00s) '第二句'"));
}

TEST(SrtWriter, BlocksAndTimeCodes) {
    std::vector<SRTSubtitle> list{makeSubtitle(1, 0.0, 1.5, "你好"),
                                  makeSubtitle(2, 2.0, 3.04, "再见")};
    EXPECT_EQ(srtText(list),
              "1\n00:00:00,000 --> 00:00:01,500\n你好\n\n2\n00:00:02,000 --> 00:00:03,040\n再见\n");
    EXPECT_EQ(SRTSubtitle::formatTime(3725.9999), "01:02:05,999");
    EXPECT_EQ(SRTSubtitle::formatTime(29 / 25.0), "00:00:01,160");
    EXPECT_EQ(SRTSubtitle::formatTime(360000.5), "100:00:00,500");
    EXPECT_EQ(srtText({}), "");
}

}  // namespace
}  // namespace quillora::extraction
