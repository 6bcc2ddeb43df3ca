#include "text/script_codec.h"

#include "platform/console.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace quillora {
namespace {

const std::string kHeart = "\u2764\uFE0F";
const std::string kVictory = "\u270C\uFE0F";
const std::string kThumbs = "\U0001F44D";
const std::string kSunglasses = "\U0001F60E";
const std::string kNotes = "\U0001F3B6";
const std::string kHeartEyes = "\U0001F60D";

// The literal chain of whole-text replacements, one table row after another; the codec's
// single passes must give exactly this.
std::string referenceEncodeTokens(std::string text) {
    for (const auto& token : kPunctuationTokens) {
        if (!token.encodedOnUpload) continue;
        text = replaceAll(text, token.character, "砚" + std::to_string(token.code) + "篁");
    }
    return text;
}

std::string referenceDecode(std::string text) {
    for (const auto& token : kPunctuationTokens) {
        text = replaceAll(text, "砚" + std::to_string(token.code) + "篁", token.character);
    }
    text = replaceAll(replaceAll(text, "\n艾克斯x", "\nx"), "\n艾克斯X", "\nX");
    const char* numerals[] = {"零", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
    for (int digit : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
        text = replaceAll(text, std::string("\n") + numerals[digit] + "砚篁",
                          "\n" + std::to_string(digit));
    }
    text = replaceAll(text, "\n好ok\n", "\n好\n");
    text = replaceAll(text, "\n你好hallo hi\n", "\n你好\n");
    text = replaceAll(text, "\nhallo大家好\n", "\n大家好\n");
    text = replaceAll(text, "\n甲乙丙mars\n", "\n甲乙丙\n");
    return replaceAll(text, "拜拜", "再见");
}

std::string randomText(std::mt19937& random, const std::vector<std::string>& alphabet,
                       std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text;
    for (std::size_t i = length(random); i > 0; --i)
        text += alphabet[pick(random)];
    return text;
}

TEST(PunctuationTokens, TableIsInCodeOrder) {
    std::size_t encoded = 0;
    for (std::size_t i = 0; i < kPunctuationTokens.size(); ++i) {
        EXPECT_EQ(kPunctuationTokens[i].code, static_cast<int>(i));
        if (kPunctuationTokens[i].encodedOnUpload) ++encoded;
    }
    EXPECT_EQ(encoded, 29u);
}

TEST(RemoveFuhao, EncodesPunctuationAsTokens) {
    ConsoleCapture quiet;
    EXPECT_EQ(removeFuhao("a,b。"), "a砚0篁b砚20篁");
    EXPECT_EQ(addfuhao("a砚0篁b砚20篁"), "a,b。");
    EXPECT_EQ(removeFuhao("ab!|~*=\\';/?？.、【】，。%-@#$^&+_><"),
              "ab砚1篁砚2篁砚3篁砚4篁砚5篁砚6篁砚7篁砚8篁砚9篁砚12篁砚13篁砚14篁砚15篁砚16篁"
              "砚17篁砚19篁砚20篁砚22篁砚23篁砚28篁砚29篁砚30篁砚31篁砚32篁砚33篁砚34篁"
              "砚35篁砚36篁");
    // Colons, parentheses, full-width exclamation and letters pass through.
    EXPECT_EQ(removeFuhao("a:b（c）(d)：！"), "a:b（c）(d)：！");
}

TEST(RemoveFuhao, LineRules) {
    ConsoleCapture quiet;
    EXPECT_EQ(removeFuhao("ab\nxy\nXY"), "ab\n艾克斯xy\n艾克斯XY");
    EXPECT_EQ(removeFuhao("\n10 个"), "\n一砚篁0 个");
    EXPECT_EQ(removeFuhao("ab\n1a\n2a\n3a\n4a\n5a\n6a\n7a\n8a\n9a\n0a"),
              "ab\n一砚篁a\n二砚篁a\n三砚篁a\n四砚篁a\n五砚篁a\n六砚篁a\n七砚篁a\n八砚篁a\n"
              "九砚篁a\n零砚篁a");
    EXPECT_EQ(removeFuhao("ab\n好\n你好\n大家好\n甲乙丙\n"),
              "ab\n好ok\n你好hallo hi\nhallo大家好\n甲乙丙mars\n");
    // Neighbouring lines share a line feed, so one rule matches only every other line.
    EXPECT_EQ(removeFuhao("ab\n好\n好\n好\ncd"), "ab\n好ok\n好\n好ok\ncd");
}

TEST(RemoveFuhao, InaudibleMarkers) {
    ConsoleCapture quiet;
    // The first line has no line feed before it and is kept.
    EXPECT_EQ(removeFuhao("（听不清）\nab"), "（听不清）\nab");
    EXPECT_EQ(removeFuhao("ab\n（听不清）\ncd"), "ab\ncd");
    EXPECT_EQ(removeFuhao("ab\n(听不清)\ncd"), "ab\ncd");
    // Two in a row share a line feed: one pass removes only the first.
    EXPECT_EQ(removeFuhao("ab\n（听不清）\n（听不清）\ncd"), "ab\n（听不清）\ncd");
    // The last line (no trailing line feed after removeSpacelines) is kept too.
    EXPECT_EQ(removeFuhao(removeSpacelines("ab\n（听不清）\n")), "ab\n（听不清）");
}

TEST(AddFuhao, DecodesEveryToken) {
    EXPECT_EQ(addfuhao("砚10篁砚11篁砚18篁砚21篁砚24篁砚25篁砚26篁砚27篁"), ":,：/（）()");
    EXPECT_EQ(addfuhao("砚37篁砚01篁砚篁砚1砚1篁篁砚 1篁"), "砚37篁砚01篁砚篁砚1!篁砚 1篁");
    EXPECT_EQ(addfuhao("a\n艾克斯x\n艾克斯X\n一砚篁0\n零砚篁"), "a\nx\nX\n10\n0");
    EXPECT_EQ(addfuhao("a\n好ok\n你好hallo hi\nhallo大家好\n甲乙丙mars\n"),
              "a\n好\n你好\n大家好\n甲乙丙\n");
    EXPECT_EQ(addfuhao("拜拜，说拜拜了"), "再见，说再见了");
}

TEST(CodecPasses, MatchTheLiteralReplacementChain) {
    std::mt19937 random(20261206);
    const std::vector<std::string> alphabet = {
        ",",  "!",  "|",  "~",  "*",  "=",    "\\",   "'",    ";",    "/",    "?",   "？", ".",
        "、", "【", "】", "，", "。", "%",    "-",    "@",    "#",    "$",    "^",   "&",  "+",
        "_",  ">",  "<",  "砚", "篁", "0",    "1",    "2",    "3",    "6",    "\n",  "x",  "一",
        "零", "好", "ok", "拜", "a",  "\xE7", "\xA0", "\xEF", "\xBC", "\x9A", "\x81"};
    for (int i = 0; i < 20000; ++i) {
        std::string text = randomText(random, alphabet, 16);
        // No quotation marks or emoji here, so the line markers stay out of the comparison.
        ASSERT_EQ(addfuhao(text), referenceDecode(text)) << text;
        // Without line feeds only the token step and the quotation markers apply.
        std::string line = replaceAll(text, "\n", "");
        ASSERT_EQ(removeFuhao(line), addemo(referenceEncodeTokens(line))) << line;
    }
}

TEST(HeadIngredientLine, EncodesQuotesAtBothEnds) {
    ConsoleCapture capture;
    EXPECT_EQ(headIngredientLine("\u201C你好\u201D"), "你" + kHeart + kSunglasses + "好");
    EXPECT_EQ(graphemeCount(headIngredientLine("\u201C你好\u201D")), 4u);
    EXPECT_EQ(headIngredientLine("\"ab\""), "a" + kVictory + kNotes + "b");
    EXPECT_EQ(headIngredientLine("\u300A书名\u300B"), "书" + kThumbs + kHeartEyes + "名");
    EXPECT_EQ(headIngredientLine("\u201C好"), "好" + kHeart);
    EXPECT_EQ(headIngredientLine("好\u201D"), "好" + kSunglasses);
    EXPECT_EQ(headIngredientLine("\u300A书\u300B"), "书" + kHeartEyes + kThumbs);
    EXPECT_EQ(headIngredientLine("plain"), "plain");
    // A mark followed by a combining accent is not the mark.
    EXPECT_EQ(headIngredientLine("\u201C\u0301ab"), "\u201C\u0301ab");
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(headIngredientLine("\u201C"), "\u201C");
    EXPECT_EQ(headIngredientLine("e\u0301"), "e\u0301");
    EXPECT_EQ(capture.count("too short"), 2u);
}

TEST(ReverseIngredientLine, DecodesMarkers) {
    EXPECT_EQ(reverseIngredientLineV2("你" + kHeart + kSunglasses + "好"), "\u201C你好\u201D");
    EXPECT_EQ(reverseIngredientLineV2("a" + kVictory + kNotes + "b"), "\"ab\"");
    EXPECT_EQ(reverseIngredientLineV2("书" + kThumbs + kHeartEyes + "名"), "\u300A书名\u300B");
    EXPECT_EQ(reverseIngredientLineV2("好" + kHeart), "\u201C好");
    EXPECT_EQ(reverseIngredientLineV2("好" + kSunglasses), "好\u201D");
    // An emoji at the very start or end of a line is decoded as well.
    EXPECT_EQ(reverseIngredientLineV2(kThumbs + "书"), "\u300A书");
    EXPECT_EQ(reverseIngredientLineV2(kThumbs), kThumbs);
    EXPECT_EQ(reverseIngredientLineV2(kNotes), kNotes);
    EXPECT_EQ(reverseIngredientLineV2("plain"), "plain");
    EXPECT_EQ(reverseIngredientParagraph("a" + kVictory + "b\n  \n\nc" + kNotes + "d"),
              "\"ab\n  \n\ncd\"");
}

TEST(ReverseIngredientLine, SingleQuotedCharacterComesBack) {
    ConsoleCapture quiet;
    for (auto [open, close] :
         {std::pair{"\u201C", "\u201D"}, std::pair{"\"", "\""}, std::pair{"\u300A", "\u300B"}}) {
        std::string line = std::string(open) + "书" + close;
        EXPECT_EQ(reverseIngredientLineV2(headIngredientLine(line)), line);
    }
    // The encoded form is left as it is.
    EXPECT_EQ(headIngredientLine("\u300A书\u300B"), "书" + kHeartEyes + kThumbs);
    EXPECT_EQ(reverseIngredientLineV2("书" + kHeartEyes + kThumbs), "\u300A书\u300B");
}

TEST(ReverseIngredientLine, EveryEncodedShortLineDecodes) {
    ConsoleCapture quiet;
    const std::vector<std::string> alphabet = {"\u201C", "\u201D", "\"", "\u300A",
                                               "\u300B", "a",      "书", "\u0301"};
    std::vector<std::string> lines = {""};
    std::size_t checked = 0;
    for (int length = 1; length <= 5; ++length) {
        std::vector<std::string> longer;
        for (const auto& prefix : lines) {
            for (const auto& character : alphabet)
                longer.push_back(prefix + character);
        }
        lines = std::move(longer);
        for (const auto& line : lines) {
            ASSERT_EQ(reverseIngredientLineV2(headIngredientLine(line)), line) << line;
            ++checked;
        }
    }
    EXPECT_GT(checked, 37000u);
}

TEST(Codec, QuotedLinesRoundTrip) {
    ConsoleCapture quiet;
    for (auto [open, close] :
         {std::pair{"\u201C", "\u201D"}, std::pair{"\"", "\""}, std::pair{"\u300A", "\u300B"}}) {
        for (std::string inner : {"书", "你好", "大家好", "好。", "x", "1", "a,"}) {
            std::string line = std::string(open) + inner + close;
            std::string text = "第一行\n" + line + "\n" + line;
            EXPECT_EQ(addfuhao(removeFuhao(text)), text) << text;
        }
    }
    // What the platform receives for a closing quote after a full stop.
    EXPECT_EQ(removeFuhao("ab\n\u201C好。\u201D"), "ab\n好" + kHeart + "砚20" + kSunglasses + "篁");
}

TEST(Codec, ReversibleTextsRoundTrip) {
    ConsoleCapture quiet;
    std::mt19937 random(7);
    std::vector<std::string> alphabet;
    for (const auto& token : kPunctuationTokens) {
        if (token.encodedOnUpload) alphabet.emplace_back(token.character);
    }
    for (const char* other : {"a", "b", "x", "X", "0", "1", "9", "你", "书", "一", " ", "\n", "\n",
                              "\n", "\u201C", "\u201D", "\"", "\u300A", "\u300B"}) {
        alphabet.emplace_back(other);
    }
    for (int i = 0; i < 20000; ++i) {
        std::string text = randomText(random, alphabet, 24);
        ASSERT_EQ(addfuhao(removeFuhao(text)), text) << text;
    }
}

TEST(RemoveSpacelines, NormalisesLines) {
    EXPECT_EQ(removeSpacelines("a  \r\n\r\n  b\t"), "a\n  b");
    EXPECT_EQ(removeSpacelines("a\rb\u3000\u00A0\n\u2028c\u0085d\n\n"), "a\nb\nc\nd");
    EXPECT_EQ(removeSpacelines(" \t\n\n"), "");
    // Zero-width space is not white space.
    EXPECT_EQ(removeSpacelines("a\u200B "), "a\u200B");
}

TEST(Srttxt, OneLinePerSubtitle) {
    EXPECT_EQ(srttxt("1\n00:00:01,000 --> 00:00:02,000\nA\nB\n\n2\n00:00:03,000 --> "
                     "00:00:04,000\n"),
              "A B\n");
    EXPECT_EQ(srttxt("1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\n\r\n2\r\nt\r\nB\r\nC"),
              "A\nB C\n");
    EXPECT_EQ(srttxt(""), "");
}

}  // namespace
}  // namespace quillora
