#include "extraction/text_measures.h"

#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

#include "platform/console.h"

namespace quillora::extraction {
namespace {

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Compiled once; a pattern that fails to compile behaves as one that never matches.
class Pattern {
  public:
    explicit Pattern(const char* source) {
        UErrorCode status = U_ZERO_ERROR;
        pattern_.reset(icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(source), 0, status));
        if (U_FAILURE(status)) pattern_.reset();
    }

    icu::UnicodeString replaceAll(const icu::UnicodeString& text,
                                  const icu::UnicodeString& replacement) const {
        if (!pattern_) return text;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(text, status));
        if (U_FAILURE(status)) return text;
        icu::UnicodeString result = matcher->replaceAll(replacement, status);
        return U_FAILURE(status) ? text : result;
    }

    int count(const icu::UnicodeString& text) const {
        if (!pattern_) return 0;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(text, status));
        if (U_FAILURE(status)) return 0;
        int found = 0;
        while (matcher->find(status) && U_SUCCESS(status))
            ++found;
        return found;
    }

    bool matches(const icu::UnicodeString& text) const { return count(text) > 0; }

  private:
    std::unique_ptr<icu::RegexPattern> pattern_;
};

const Pattern& newlineRuns() {
    static const Pattern p("\\n+");
    return p;
}
const Pattern& whitespaceRuns() {
    static const Pattern p("\\s+");
    return p;
}
const Pattern& ideograph() {
    static const Pattern p("[\\u4e00-\\u9fff]");
    return p;
}

bool isWhitespace(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

bool isPunctuationOrSymbol(UChar32 c) {
    const int32_t mask = U_GET_GC_MASK(c);
    return (mask & (U_GC_P_MASK | U_GC_S_MASK)) != 0;
}

icu::UnicodeString trimmed(const icu::UnicodeString& text) {
    int32_t begin = 0;
    int32_t end = text.length();
    while (begin < end && isWhitespace(text.char32At(begin)))
        begin = text.moveIndex32(begin, 1);
    while (end > begin) {
        const int32_t previous = text.moveIndex32(end, -1);
        if (!isWhitespace(text.char32At(previous))) break;
        end = previous;
    }
    return icu::UnicodeString(text, begin, end - begin);
}

template <typename Predicate>
icu::UnicodeString withoutCodePoints(const icu::UnicodeString& text, Predicate drop) {
    icu::UnicodeString out;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        if (!drop(c)) out.append(c);
    }
    return out;
}

size_t graphemeCount(const icu::UnicodeString& text) {
    return graphemes(toUtf8(text)).size();
}

template <typename T>
double jaccard(const std::set<T>& a, const std::set<T>& b) {
    if (a.empty() && b.empty()) return 1.0;
    if (a.empty() || b.empty()) return 0.0;
    size_t common = 0;
    for (const auto& item : a)
        common += b.count(item);
    const size_t all = a.size() + b.size() - common;
    return static_cast<double>(common) / static_cast<double>(all);
}

std::set<std::string> characterSet(std::string_view text) {
    const auto list = graphemes(text);
    return {list.begin(), list.end()};
}

}  // namespace

std::vector<std::string> graphemes(std::string_view text) {
    std::vector<std::string> result;
    if (text.empty()) return result;
    const icu::UnicodeString unicode = toUnicode(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
            result.push_back(toUtf8(icu::UnicodeString(unicode.char32At(i))));
        }
        return result;
    }
    it->setText(unicode);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        result.push_back(toUtf8(icu::UnicodeString(unicode, start, end - start)));
    }
    return result;
}

size_t characterCount(std::string_view text) {
    return graphemes(text).size();
}

int countIdeographs(std::string_view text) {
    return ideograph().count(toUnicode(text));
}

std::string cleanRecognizedText(std::string_view text) {
    icu::UnicodeString unicode = toUnicode(text);
    unicode = newlineRuns().replaceAll(unicode, " ");
    unicode = whitespaceRuns().replaceAll(unicode, " ");
    const std::string result = toUtf8(trimmed(unicode));
    if (isNoiseText(result) || characterCount(result) <= 1) return "";
    return result;
}

bool isNoiseText(std::string_view text) {
    static const Pattern nonWord("[^\\w]");
    static const Pattern space("\\s");
    static const Pattern letter("^[a-zA-Z]$");
    static const Pattern digit("^\\d$");
    static const Pattern letterDigit("^[a-zA-Z]\\d$");
    static const Pattern digitLetter("^\\d[a-zA-Z]$");

    const icu::UnicodeString trim = trimmed(toUnicode(text));
    if (trim.isEmpty()) return true;
    const std::string trimText = toUtf8(trim);
    const icu::UnicodeString core = space.replaceAll(nonWord.replaceAll(trim, ""), "");
    const size_t coreCount = graphemeCount(core);
    if (coreCount == 1) {
        if (letter.matches(core)) {
            console("🔇 过滤单个字母噪声: '" + trimText + "'");
            return true;
        }
        if (digit.matches(core)) {
            console("🔇 过滤单个数字噪声: '" + trimText + "'");
            return true;
        }
    }
    if (coreCount == 2 && (letterDigit.matches(core) || digitLetter.matches(core))) {
        console("🔇 过滤字母数字组合噪声: '" + trimText + "'");
        return true;
    }
    if (coreCount != 2 && graphemeCount(trim) > 2) return false;
    if (ideograph().matches(trim)) return false;
    console("🔇 过滤过短文本噪声: '" + trimText + "'");
    return true;
}

bool areTextsSimilar(std::string_view a, std::string_view b) {
    auto normalise = [](std::string_view text) {
        icu::UnicodeString kept = withoutCodePoints(toUnicode(text), [](UChar32 c) {
            return isPunctuationOrSymbol(c) || isWhitespace(c) ||
                   (U_GET_GC_MASK(c) & U_GC_Z_MASK) != 0;
        });
        return toUtf8(kept.toLower(icu::Locale::getRoot()));
    };
    const std::string na = normalise(a);
    const std::string nb = normalise(b);
    if (na == nb) return true;
    return jaccard(characterSet(na), characterSet(nb)) > 0.6;
}

double calculateTextQuality(std::string_view text) {
    if (text.empty()) return 0.0;
    const double n = static_cast<double>(characterCount(text));
    if (n == 0) return 0.0;
    const double lengthScore = 1.0 - std::min(std::abs(n - 20.0) / 20.0, 1.0);
    const double ideographRatio = countIdeographs(text) / n;
    double bonus = 0.0;
    auto has = [&](std::string_view part) { return text.find(part) != std::string_view::npos; };
    if (has("。") || has("！") || has("？")) bonus += 0.15;
    if (has("，") || has(" ")) bonus += 0.1;
    if (n >= 3) bonus += 0.05;
    return std::min(0.3 * lengthScore + 0.4 * ideographRatio + bonus, 1.0);
}

std::string cleanTextForMergeComparison(std::string_view text) {
    icu::UnicodeString kept = withoutCodePoints(toUnicode(text), isPunctuationOrSymbol);
    kept = whitespaceRuns().replaceAll(kept, " ");
    kept = trimmed(kept);
    return toUtf8(kept.toLower(icu::Locale::getRoot()));
}

int editDistance(std::string_view a, std::string_view b) {
    const auto x = graphemes(a);
    const auto y = graphemes(b);
    const size_t n = x.size();
    const size_t m = y.size();
    std::vector<int> table((n + 1) * (m + 1));
    auto at = [&](size_t i, size_t j) -> int& { return table[i * (m + 1) + j]; };
    for (size_t j = 0; j <= m; ++j)
        at(0, j) = static_cast<int>(j);
    for (size_t i = 0; i <= n; ++i)
        at(i, 0) = static_cast<int>(i);
    for (size_t i = 1; i <= n; ++i) {
        for (size_t j = 1; j <= m; ++j) {
            const int substitute = at(i - 1, j - 1) + (x[i - 1] == y[j - 1] ? 0 : 1);
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, substitute});
        }
    }
    return at(n, m);
}

double calculateEditDistanceSimilarity(std::string_view a, std::string_view b) {
    const size_t n = characterCount(a);
    const size_t m = characterCount(b);
    if (n == 0 && m == 0) return 1.0;
    if (n == 0 || m == 0) return 0.0;
    return 1.0 - static_cast<double>(editDistance(a, b)) / static_cast<double>(std::max(n, m));
}

int longestCommonSubsequence(std::string_view a, std::string_view b) {
    const auto x = graphemes(a);
    const auto y = graphemes(b);
    const size_t m = y.size();
    std::vector<int> table((x.size() + 1) * (m + 1), 0);
    auto at = [&](size_t i, size_t j) -> int& { return table[i * (m + 1) + j]; };
    for (size_t i = 1; i <= x.size(); ++i) {
        for (size_t j = 1; j <= m; ++j) {
            at(i, j) =
                x[i - 1] == y[j - 1] ? at(i - 1, j - 1) + 1 : std::max(at(i - 1, j), at(i, j - 1));
        }
    }
    return at(x.size(), m);
}

double calculateLCSSimilarity(std::string_view a, std::string_view b) {
    const size_t n = characterCount(a);
    const size_t m = characterCount(b);
    if (n == 0 && m == 0) return 1.0;
    if (n == 0 || m == 0) return 0.0;
    return static_cast<double>(longestCommonSubsequence(a, b)) /
           static_cast<double>(std::max(n, m));
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    const icu::UnicodeString unicode = toUnicode(text);
    icu::UnicodeString current;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
        const UChar32 c = unicode.char32At(i);
        if (isWhitespace(c)) {
            if (!current.isEmpty()) result.push_back(toUtf8(current));
            current.remove();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty()) result.push_back(toUtf8(current));
    return result;
}

double calculateWordOverlapSimilarity(std::string_view a, std::string_view b) {
    const auto wa = words(a);
    const auto wb = words(b);
    return jaccard(std::set<std::string>(wa.begin(), wa.end()),
                   std::set<std::string>(wb.begin(), wb.end()));
}

double calculateCharacterOverlap(std::string_view a, std::string_view b) {
    return jaccard(characterSet(a), characterSet(b));
}

double calculateMergeSimilarity(std::string_view a, std::string_view b, bool debug) {
    if (a.empty()) return b.empty() ? 1.0 : 0.0;
    if (b.empty()) return 0.0;
    if (a == b) return 1.0;
    const double e = calculateEditDistanceSimilarity(a, b);
    const double l = calculateLCSSimilarity(a, b);
    const double w = calculateWordOverlapSimilarity(a, b);
    const double c = calculateCharacterOverlap(a, b);
    if (debug) {
        console("      编辑距离相似度: " + fixed(e, 3));
        console("      LCS相似度: " + fixed(l, 3));
        console("      词汇重叠: " + fixed(w, 3));
        console("      字符重叠: " + fixed(c, 3));
    }
    return 0.4 * e + 0.3 * l + 0.2 * w + 0.1 * c;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string shortestDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

}  // namespace quillora::extraction
