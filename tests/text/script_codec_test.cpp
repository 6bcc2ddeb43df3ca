#include "text/script_codec.h"

#include "platform/console.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <random>

namespace quillora {
namespace {

const std::string kHeart = "\u2764\uFE0F";
const std::string kVictory = "\u270C\uFE0F";
const std::string kThumbs = "\U0001F44D";
const std::string kSunglasses = "\U0001F60E";
const std::string kNotes = "\U0001F3B6";
const std::string kHeartEyes = "\U0001F60D";

using Examples = std::vector<std::pair<std::string, std::string>>;

TEST(RemoveFuhao, WorkedExamples) {
    ConsoleCapture quiet;
    const Examples examples = {
        {"a,b。", "a砚0篁b砚20篁"},
        {"ab!|~*=\\';/?？.、【】，。%-@#$^&+_><",
         "ab砚1篁砚2篁砚3篁砚4篁砚5篁砚6篁砚7篁砚8篁砚9篁砚12篁砚13篁砚14篁砚15篁砚16篁"
         "砚17篁砚19篁砚20篁砚22篁砚23篁砚28篁砚29篁砚30篁砚31篁砚32篁砚33篁砚34篁"
         "砚35篁砚36篁"},
        // Colons, parentheses, full-width exclamation and letters pass through.
        {"a:b（c）(d)：！", "a:b（c）(d)：！"},
        // Line rules: leading x, leading digits, and the short greeting lines.
        {"ab\nxy\nXY", "ab\n艾克斯xy\n艾克斯XY"},
        {"\n10 个", "\n一砚篁0 个"},
        {"ab\n1a\n2a\n3a\n4a\n5a\n6a\n7a\n8a\n9a\n0a",
         "ab\n一砚篁a\n二砚篁a\n三砚篁a\n四砚篁a\n五砚篁a\n六砚篁a\n七砚篁a\n八砚篁a\n九砚篁a\n"
         "零砚篁a"},
        {"ab\n好\n你好\n大家好\n甲乙丙\n", "ab\n好ok\n你好hallo hi\nhallo大家好\n甲乙丙mars\n"},
        // Neighbouring lines share a line feed, so one rule matches only every other line.
        {"ab\n好\n好\n好\ncd", "ab\n好ok\n好\n好ok\ncd"},
        // Inaudible markers go, except on the first line (no line feed before it)...
        {"（听不清）\nab", "（听不清）\nab"},
        {"ab\n（听不清）\ncd", "ab\ncd"},
        {"ab\n(听不清)\ncd", "ab\ncd"},
        // ...and two in a row share a line feed: one pass removes only the first.
        {"ab\n（听不清）\n（听不清）\ncd", "ab\n（听不清）\ncd"},
        // What the platform receives for a closing quote after a full stop.
        {"ab\n\u201C好。\u201D", "ab\n好" + kHeart + "砚20" + kSunglasses + "篁"},
    };
    for (const auto& [text, encoded] : examples)
        EXPECT_EQ(removeFuhao(text), encoded) << text;
    // The last line (no trailing line feed after removeSpacelines) is kept too.
    EXPECT_EQ(removeFuhao(removeSpacelines("ab\n（听不清）\n")), "ab\n（听不清）");
}

TEST(AddFuhao, WorkedExamples) {
    const Examples examples = {
        {"a砚0篁b砚20篁", "a,b。"},
        {"砚10篁砚11篁砚18篁砚21篁砚24篁砚25篁砚26篁砚27篁", ":,：/（）()"},
        // Unknown codes and broken tokens stay; a token inside a broken one is decoded.
        {"砚37篁砚01篁砚篁砚1砚1篁篁砚 1篁", "砚37篁砚01篁砚篁砚1!篁砚 1篁"},
        {"a\n艾克斯x\n艾克斯X\n一砚篁0\n零砚篁", "a\nx\nX\n10\n0"},
        {"a\n好ok\n你好hallo hi\nhallo大家好\n甲乙丙mars\n", "a\n好\n你好\n大家好\n甲乙丙\n"},
        {"拜拜，说拜拜了", "再见，说再见了"},
        // Stray bytes of the token characters pass through.
        {"\xE7\xA0"
         "1\xE7\xAF",
         "\xE7\xA0"
         "1\xE7\xAF"},
    };
    for (const auto& [encoded, text] : examples)
        EXPECT_EQ(addfuhao(encoded), text) << encoded;
}

TEST(HeadIngredientLine, EncodesQuotesAtBothEnds) {
    ConsoleCapture capture;
    const Examples examples = {
        {"\u201C你好\u201D", "你" + kHeart + kSunglasses + "好"},
        {"\"ab\"", "a" + kVictory + kNotes + "b"},
        {"\u300A书名\u300B", "书" + kThumbs + kHeartEyes + "名"},
        {"\u201C好", "好" + kHeart},
        {"好\u201D", "好" + kSunglasses},
        {"\u300A书\u300B", "书" + kHeartEyes + kThumbs},
        {"plain", "plain"},
        // A mark followed by a combining accent is not the mark.
        {"\u201C\u0301ab", "\u201C\u0301ab"},
    };
    for (const auto& [line, encoded] : examples) {
        EXPECT_EQ(headIngredientLine(line), encoded) << line;
        EXPECT_EQ(reverseIngredientLineV2(encoded), line) << line;
    }
    EXPECT_EQ(graphemeCount(headIngredientLine("\u201C你好\u201D")), 4u);
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(headIngredientLine("\u201C"), "\u201C");
    EXPECT_EQ(headIngredientLine("e\u0301"), "e\u0301");
    EXPECT_EQ(capture.count("too short"), 2u);
}

TEST(ReverseIngredientLine, DecodesMarkersAtTheEdges) {
    // An emoji at the very start or end of a line is decoded as well.
    EXPECT_EQ(reverseIngredientLineV2(kThumbs + "书"), "\u300A书");
    EXPECT_EQ(reverseIngredientLineV2(kThumbs), kThumbs);
    EXPECT_EQ(reverseIngredientLineV2(kNotes), kNotes);
}

TEST(IngredientParagraphs, EveryNonBlankLineIsEncodedAndDecoded) {
    ConsoleCapture quiet;
    const std::string text = "\u201C你好\u201D\n  \n\n\"ab\"";
    const std::string encoded =
        "你" + kHeart + kSunglasses + "好\n  \n\na" + kVictory + kNotes + "b";
    EXPECT_EQ(addemo(text), encoded);
    EXPECT_EQ(reverseIngredientParagraph(encoded), text);
    // Markers are decoded line by line, so a quote may open and close on different lines.
    EXPECT_EQ(reverseIngredientParagraph("a" + kVictory + "b\n  \n\nc" + kNotes + "d"),
              "\"ab\n  \n\ncd\"");
}

TEST(ReverseIngredientLine, EveryEncodedShortLineDecodes) {
    ConsoleCapture quiet;
    const std::vector<std::string> alphabet = {"\u201C", "\u201D", "\"", "\u300A",
                                               "\u300B", "a",      "书", "\u0301"};
    std::vector<std::string> lines = {""};
    for (int length = 1; length <= 5; ++length) {
        std::vector<std::string> longer;
        for (const auto& prefix : lines) {
            for (const auto& character : alphabet)
                longer.push_back(prefix + character);
        }
        lines = std::move(longer);
        for (const auto& line : lines)
            ASSERT_EQ(reverseIngredientLineV2(headIngredientLine(line)), line) << line;
    }
}

TEST(Codec, RoundTrips) {
    ConsoleCapture quiet;
    // Quoted lines with one, two and three characters inside, and a few more.
    for (auto [open, close] :
         {std::pair{"\u201C", "\u201D"}, std::pair{"\"", "\""}, std::pair{"\u300A", "\u300B"}}) {
        for (std::string inner : {"书", "你好", "大家好", "好。", "x", "1", "a,"}) {
            std::string line = std::string(open) + inner + close;
            std::string text = "第一行\n" + line + "\n" + line;
            EXPECT_EQ(addfuhao(removeFuhao(text)), text) << text;
        }
    }

    std::mt19937 random(7);
    std::vector<std::string> alphabet;
    for (const auto& token : kPunctuationTokens) {
        if (token.encodedOnUpload) alphabet.emplace_back(token.character);
    }
    for (const char* other : {"a", "b", "x", "X", "0", "1", "9", "你", "书", "一", " ", "\n", "\n",
                              "\n", "\u201C", "\u201D", "\"", "\u300A", "\u300B"}) {
        alphabet.emplace_back(other);
    }
    std::uniform_int_distribution<std::size_t> length(0, 24);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (std::size_t k = length(random); k > 0; --k)
            text += alphabet[pick(random)];
        ASSERT_EQ(addfuhao(removeFuhao(text)), text) << text;
    }
}

TEST(RemoveSpacelinesAndSrttxt, WorkedExamples) {
    EXPECT_EQ(removeSpacelines("a  \r\n\r\n  b\t"), "a\n  b");
    EXPECT_EQ(removeSpacelines("a\rb\u3000\u00A0\n\u2028c\u0085d\n\n"), "a\nb\nc\nd");
    EXPECT_EQ(removeSpacelines(" \t\n\n"), "");
    // Zero-width space is not white space.
    EXPECT_EQ(removeSpacelines("a\u200B "), "a\u200B");

    EXPECT_EQ(srttxt("1\n00:00:01,000 --> 00:00:02,000\nA\nB\n\n2\n00:00:03,000 --> "
                     "00:00:04,000\n"),
              "A B\n");
    EXPECT_EQ(srttxt("1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\n\r\n2\r\nt\r\nB\r\nC"),
              "A\nB C\n");
    EXPECT_EQ(srttxt(""), "");
}

}  // namespace
}  // namespace quillora
