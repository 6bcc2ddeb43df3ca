#include <gtest/gtest.h>

#include "extraction/text_measures.h"
#include "platform/console.h"

namespace quillora::extraction {
namespace {

// The other suites use ASCII spaces and plain ideographs; recognised lines also carry
// ideographic spaces, line separators, combining marks and emoji.

TEST(TextMeasuresUnicode, WhiteSpaceIsEveryUnicodeSpaceCharacter) {
    EXPECT_EQ(cleanRecognizedText("\u3000你好\u0085\v\u2028世界\u00A0 "), "你好 世界");
    EXPECT_EQ(cleanRecognizedText("\u200B你好"), "\u200B你好");  // a format character, kept
    EXPECT_EQ(words("a\u3000b\u2029\u2029c\u200Bd"),
              (std::vector<std::string>{"a", "b", "c\u200Bd"}));

    ConsoleCapture capture;
    EXPECT_TRUE(isNoiseText("\u3000A\u2003"));
    EXPECT_TRUE(capture.contains("🔇 过滤单个字母噪声: 'A'"));
    EXPECT_TRUE(isNoiseText("\u00A0x\u3000y\n"));
    EXPECT_TRUE(capture.contains("🔇 过滤过短文本噪声: 'x\u3000y'"));
}

TEST(TextMeasuresUnicode, CharactersAreGraphemeClusters) {
    EXPECT_EQ(characterCount("e\u0301👍🏽🇨🇳한"), 4u);
    EXPECT_EQ(graphemes("ae\u0301"), (std::vector<std::string>{"a", "e\u0301"}));
    EXPECT_EQ(editDistance("cafe\u0301", "cafe"), 1);
    EXPECT_EQ(longestCommonSubsequence("👍🏽好", "👍好"), 1);
    // Two characters in three code points are still too short.
    ConsoleCapture capture;
    EXPECT_TRUE(isNoiseText("ab\u0301"));
    EXPECT_TRUE(capture.contains("🔇 过滤过短文本噪声: 'ab\u0301'"));
    EXPECT_FALSE(isNoiseText("a\u0301b\u0301c"));
    EXPECT_TRUE(isNoiseText("？！"));
    EXPECT_EQ(countIdeographs("\u3400\u4E00\u9FFF\uF900"), 2);
}

TEST(TextMeasuresUnicode, ComparisonDropsPunctuationAndSymbolsOfAnyScript) {
    EXPECT_EQ(cleanTextForMergeComparison("«Ça» , va — ÉTÉ € 2 + 2"), "ça va été 2 2");
    EXPECT_EQ(cleanTextForMergeComparison("、。\u3000「你好」\u3000…"), "你好");
    EXPECT_TRUE(areTextsSimilar("ΣΟΦΊΑ…", "σοφία"));
    EXPECT_TRUE(areTextsSimilar("你\u3000好©", "你好"));
    EXPECT_FALSE(areTextsSimilar("e\u0301e\u0301", "ee"));  // marks are not dropped
}

}  // namespace
}  // namespace quillora::extraction
