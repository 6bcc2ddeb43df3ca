#include "server/spoken_length.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <string_view>

#include "text/script_codec.h"
#include "text/unicode.h"

namespace quillora::server {
namespace {

bool isAsciiLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char32_t c) {
    return c >= '0' && c <= '9';
}
bool isUpper(char32_t c) {
    return c >= 'A' && c <= 'Z';
}

// English words said inside Chinese speech: capitals are spelt out (NBA, OK), other words have
// about one syllable for each group of vowels, a silent final e not counted.
double latinSyllables(std::u32string_view word) {
    const bool capitals =
        word.size() >= 2 && word.size() <= 6 &&
        std::all_of(word.begin(), word.end(), [](char32_t c) { return isUpper(c); });
    if (capitals) {
        double letters = 0;
        for (char32_t c : word)
            letters += c == 'W' ? 3 : 1;
        return letters;
    }
    const auto vowel = [](char32_t c) {
        c = c | 0x20;
        return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u' || c == 'y';
    };
    int groups = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (vowel(word[i]) && (i == 0 || !vowel(word[i - 1]))) ++groups;
    }
    const bool silentE = word.size() > 2 && (word.back() | 0x20) == 'e' &&
                         !vowel(word[word.size() - 2]) && (word[word.size() - 2] | 0x20) != 'l';
    if (silentE && groups > 1) --groups;
    return std::max(groups, 1);
}

// A number as Chinese reads it: 150 = 一百五十 (4), 2024 = 两千零二十四 (6), 15 = 十五 (2); a
// year before 年 and long numbers (telephone numbers, codes) digit by digit; 2.5 = 二点五.
double numberSyllables(std::u32string_view integer, std::u32string_view fraction, bool year) {
    double count = 0;
    const std::size_t n = integer.size();
    if (year || n >= 5 || (n > 1 && integer.front() == '0')) {
        count = static_cast<double>(n);
    } else {
        bool pendingZero = false;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t place = n - 1 - i;
            if (integer[i] == '0') {
                pendingZero = n > 1;
                continue;
            }
            if (pendingZero) count += 1;  // 零
            pendingZero = false;
            const bool bareTen = n == 2 && i == 0 && integer[i] == '1';  // 十五, not 一十五
            count += (bareTen ? 0 : 1) + (place > 0 ? 1 : 0);
        }
        if (count == 0) count = 1;  // 零
    }
    if (!fraction.empty()) count += 1 + static_cast<double>(fraction.size());
    return count;
}

bool isClausePause(char32_t c) {
    switch (c) {
        case U'，':
        case U',':
        case U'、':
        case U'；':
        case U';':
        case U'：':
        case U':':
        case U'—':
        case U'…':
            return true;
        default:
            return false;
    }
}

}  // namespace

SpokenLength spokenLength(const std::string& uploadedLine) {
    // The upload's markers are undone per line, as they were made: between line feeds.
    const std::u32string text = codePoints(addfuhao("\n" + uploadedLine + "\n"));
    SpokenLength length;
    bool pausePending = false;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = text[i];
        double syllables = 0;
        if (u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_IDEOGRAPHIC)) {
            syllables = 1;
            ++i;
        } else if (isAsciiLetter(c)) {
            std::size_t end = i;
            while (end < text.size() && (isAsciiLetter(text[end]) || text[end] == '\''))
                ++end;
            syllables = latinSyllables(std::u32string_view(text).substr(i, end - i));
            i = end;
        } else if (isAsciiDigit(c)) {
            std::size_t end = i;
            while (end < text.size() && isAsciiDigit(text[end]))
                ++end;
            const std::u32string_view integer = std::u32string_view(text).substr(i, end - i);
            std::u32string_view fraction;
            if (end + 1 < text.size() && text[end] == '.' && isAsciiDigit(text[end + 1])) {
                std::size_t fractionEnd = end + 1;
                while (fractionEnd < text.size() && isAsciiDigit(text[fractionEnd]))
                    ++fractionEnd;
                fraction = std::u32string_view(text).substr(end + 1, fractionEnd - end - 1);
                end = fractionEnd;
            }
            const bool year = integer.size() == 4 && end < text.size() && text[end] == U'年';
            syllables = numberSyllables(integer, fraction, year);
            if (end < text.size() && (text[end] == '%' || text[end] == U'％')) {
                syllables += 3;  // 百分之
                ++end;
            }
            i = end;
        } else if (isLetter(c) || isNumber(c)) {
            syllables = 1;  // kana, hangul, circled and Chinese-style numerals
            ++i;
        } else {
            if (isClausePause(c) && length.syllables > 0) pausePending = true;
            ++i;
        }
        if (syllables > 0) {
            if (pausePending) ++length.pauses;
            pausePending = false;
            length.syllables += syllables;
        }
    }
    return length;
}

}  // namespace quillora::server
