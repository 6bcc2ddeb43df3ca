#include "text/unicode.h"

#include "text/numbers.h"
#include "text/printable.h"
#include "text/text_decoding.h"

#include <gtest/gtest.h>
#include <unicode/brkiter.h>
#include <unicode/ucnv.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>

namespace quillora {
namespace {

using Pieces = std::vector<std::string_view>;

TEST(SplitNewlines, EachNewlineCharacterSeparates) {
    EXPECT_EQ(splitNewlines("a\r\nb"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(splitNewlines("a\vb\fc\u0085d\u2028e\u2029f\rg"),
              (Pieces{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(splitNewlines(""), (Pieces{""}));
    EXPECT_EQ(splitNewlines("\n"), (Pieces{"", ""}));
    // U+2027 and a lone continuation byte are not separators, and bytes pass through.
    EXPECT_EQ(splitNewlines("a\u2027b\x85\xE2\x80"), (Pieces{"a\u2027b\x85\xE2\x80"}));
}

TEST(SplitOn, NonOverlappingLeftToRight) {
    EXPECT_EQ(splitOn("a\n\n\nb", "\n\n"), (Pieces{"a", "\nb"}));
    EXPECT_EQ(splitOn("\n\n", "\n\n"), (Pieces{"", ""}));
    EXPECT_EQ(replaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
}

TEST(Trimming, UsesTheWhiteSpaceClasses) {
    EXPECT_EQ(trimHorizontalWhitespace("\t \u3000\u00A0a b\u2003 "), "a b");
    EXPECT_EQ(trimHorizontalWhitespace("\u200Ba\u200B"), "\u200Ba\u200B");  // Cf, not Zs
    EXPECT_EQ(trimHorizontalWhitespace("\na\n"), "\na\n");  // line feeds are not horizontal
    EXPECT_TRUE(isBlankLine(" \t\u3000"));
    EXPECT_FALSE(isBlankLine(" \v"));
    EXPECT_EQ(trimTrailingRegexWhitespace("a \t\u3000\u0085\v"), "a");
    EXPECT_EQ(trimTrailingRegexWhitespace("a\xA0"), "a\xA0");  // a stray byte is kept
    EXPECT_EQ(trimRegexWhitespace("\n\u3000\u0085 a\tb\u2029\v"), "a\tb");
    EXPECT_EQ(trimRegexWhitespace("\u200Ba\u200B"), "\u200Ba\u200B");  // Cf is not \s
    EXPECT_EQ(trimRegexWhitespace(" \xA0z\xC2 "), "\xA0z\xC2");        // stray bytes stop trimming
    EXPECT_EQ(trimRegexWhitespace(" \r\n "), "");
}

TEST(Trimming, RegexWhitespaceMatchesTheRegexEngine) {
    UnicodeRegex whitespace("\\s");
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::string text;
        appendUtf8(text, c);
        ASSERT_EQ(isRegexWhitespace(c), whitespace.fullMatch(text))
            << std::hex << static_cast<uint32_t>(c);
    }
}

// Clusters straight from ICU's break iterator, as the reference for the shortcuts.
std::vector<std::string> icuClusters(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    breaks->setText(utext, status);
    std::vector<std::string> clusters;
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        clusters.push_back(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
        start = end;
    }
    breaks.reset();
    utext_close(utext);
    return clusters;
}

TEST(Graphemes, ShortcutsAgreeWithTheBreakIterator) {
    const std::vector<std::string> alphabet = {
        "a",      " ",          "\t",         "\r",         "\n",     "你",     "。",
        "“",      "”",          "，",         "e\u0301",    "\u0301", "\u200D", "\uFE0F",
        "\u2764", "\U0001F44D", "\U0001F3FD", "\U0001F1E8", "\u1100", "\u1161", "\uAC00",
        "\u0600", "\u0903",     "\u00A9",     "\u00E9",     "\u3030", "\u302A", "\xFF"};
    std::mt19937 random(3);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 10);
    for (int i = 0; i < 50000; ++i) {
        std::string text;
        for (int k = length(random); k > 0; --k)
            text += alphabet[pick(random)];
        auto clusters = icuClusters(text);
        auto ours = graphemes(text);
        ASSERT_EQ(std::vector<std::string>(ours.begin(), ours.end()), clusters) << text;
        ASSERT_EQ(graphemeCount(text), clusters.size());
        ASSERT_EQ(graphemeCountUpTo(text, 2), std::min<std::size_t>(clusters.size(), 2)) << text;
        ASSERT_EQ(firstGrapheme(text), clusters.empty() ? std::string() : clusters.front()) << text;
        ASSERT_EQ(lastGrapheme(text), clusters.empty() ? std::string() : clusters.back()) << text;
    }
}

TEST(Graphemes, IllFormedBytesSurvive) {
    const std::string broken = "a\xFF\xE4\xBD你\xF0\x9F";
    std::string joined;
    for (auto cluster : graphemes(broken))
        joined.append(cluster);
    EXPECT_EQ(joined, broken);
    EXPECT_GE(graphemeCount(broken), 4u);
    EXPECT_EQ(codePoints("a\xFF"), U"a\uFFFD");
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));
    EXPECT_TRUE(isValidUtf8("你好\U0010FFFF"));
}

TEST(PrintableText, EscapesWhatATerminalOrALogWouldActOnAndCutsLongText) {
    const std::pair<std::string, std::string> cases[] = {
        {"你好 plain", "你好 plain"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"a\nb\r\x7f", "a\\x0ab\\x0d\\x7f"},
        {"\xc2\x9b"
         "2J \u202eevil",
         "\\u009b2J \\u202eevil"},
        {"bad\xff\xe4\xbd", "bad\\xff\\xe4\\xbd"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"back\\x1b", "back\\\\x1b"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(printableText(text), shown) << text;
    EXPECT_EQ(printableText("一二三四五", 3), "一二三…");
    EXPECT_EQ(printableText(std::string(5'000'000, 'x')).size(), 500u + std::string("…").size());
}

TEST(Graphemes, TerminalColumns) {
    const std::pair<const char*, size_t> widths[] = {
        {"", 0},         {"talk.mp4", 8}, {"时长(分钟)", 10},
        {"ｆｕｌｌ", 8}, {"e\u0301", 1},  {"\U0001F44D\U0001F3FD", 2},
        {"a\tb", 2},     {"\xFF", 1}};
    for (const auto& [text, columns] : widths) {
        EXPECT_EQ(displayWidth(text), columns) << text;
    }
}

TEST(Regex, UnicodeClassesAndReplacement) {
    UnicodeRegex han("\\p{Han}+");
    EXPECT_TRUE(han.search("abc你好"));
    EXPECT_FALSE(han.fullMatch("abc你好"));
    EXPECT_EQ(han.findAll("a你b好吗"), (std::vector<std::string>{"你", "好吗"}));
    EXPECT_EQ(UnicodeRegex("(\\w+)@").replaceAll("名字@x", "[$1]"), "[名字]x");
    EXPECT_TRUE(UnicodeRegex("straße", true).fullMatch("STRASSE") ||
                UnicodeRegex("straße", true).fullMatch("Straße"));
    EXPECT_THROW(UnicodeRegex("(unclosed"), RegexError);
}

TEST(Numbers, DecimalsReadTheWholeTextOrNothing) {
    // Whole integers are checked through the time-code pieces that use them.
    EXPECT_DOUBLE_EQ(*parseDecimalNumber("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(*parseDecimalNumber("+2e1"), 20.0);
    EXPECT_DOUBLE_EQ(*parseDecimalNumber("0x10"), 16.0);
    for (const std::string& text :
         {std::string(" 1"), std::string("1 "), std::string(), std::string("1\0", 2)})
        EXPECT_FALSE(parseDecimalNumber(text)) << text;
    EXPECT_FLOAT_EQ(*parseDecimalNumberFloat("2.3"), 2.3f);
}

TEST(Numbers, PrintsShortestRoundTripDecimalsAndMoney) {
    for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
             {12.0, "12.0"},
             {12.5, "12.5"},
             {0.1, "0.1"},
             {1e21, "1e+21"},
             {-0.0, "-0.0"},
             {std::nan(""), "nan"},
             {-std::numeric_limits<double>::infinity(), "-inf"}})
        EXPECT_EQ(shortestDecimal(value), text) << text;
    EXPECT_EQ(money(12.5), "12.50");
    EXPECT_EQ(money(0.005), "0.01");
    EXPECT_EQ(money(-3), "-3.00");
}

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};

TEST(TextDecoding, Windows1252MatchesTheConverterTables) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open("windows-1252", &status));
    ASSERT_TRUE(U_SUCCESS(status));
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    for (int byte = 0x20; byte < 0x100; ++byte) {
        std::string input(1, static_cast<char>(byte));
        UChar output[4];
        status = U_ZERO_ERROR;
        ucnv_reset(converter.get());
        int32_t length = ucnv_toUChars(converter.get(), output, 4, input.data(), 1, &status);
        auto decoded = decodeWindows1252(input);
        if (U_FAILURE(status)) {
            EXPECT_FALSE(decoded) << byte;
            continue;
        }
        ASSERT_TRUE(decoded) << byte;
        ASSERT_EQ(length, 1);
        std::string expected;
        appendUtf8(expected, output[0]);
        EXPECT_EQ(*decoded, expected) << byte;
    }
}

// The subtitle reader's fallbacks cover the rest of the decoders.
TEST(TextDecoding, Utf16NeedsWholeUnitsAndPairs) {
    EXPECT_EQ(decodeUtf16(std::string("\xFE\xFF\x4F\x60\xD8\x3D\xDE\x00", 8)), "你😀");
    EXPECT_FALSE(decodeUtf16(std::string("\xFF\xFE\x3D\xD8", 4)));  // truncated pair
    EXPECT_FALSE(decodeUtf16(std::string("\xFF\xFE\x61", 3)));      // odd length
    EXPECT_EQ(decodeLatin1("caf\xE9\x81"), "café\u0081");
}

}  // namespace
}  // namespace quillora
