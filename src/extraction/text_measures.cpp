#include "extraction/text_measures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "platform/console.h"
#include "text/unicode.h"

namespace quillora::extraction {
namespace {

bool isIdeograph(char32_t c) {
    return c >= 0x4E00 && c <= 0x9FFF;
}

// Keeps the code points `keep` accepts and then does what replacing "\s+" with one space and
// trimming does: each run of white space between kept text becomes one space, runs at either end
// go. Dropped code points do not split a run, so "a , b" without the comma gives "a b".
template <typename Keep>
std::string collapsedWhitespace(std::string_view text, Keep keep) {
    std::string out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (const char32_t c : codePoints(text)) {
        if (!keep(c)) continue;
        if (isRegexWhitespace(c)) {
            pendingSpace = true;
            continue;
        }
        if (pendingSpace && !out.empty()) out.push_back(' ');
        pendingSpace = false;
        appendUtf8(out, c);
    }
    return out;
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

// The clusters view into `text`, which must outlive the set.
std::set<std::string_view> characterSet(std::string_view text) {
    const auto list = quillora::graphemes(text);
    return {list.begin(), list.end()};
}

}  // namespace

std::vector<std::string> graphemes(std::string_view text) {
    const auto clusters = quillora::graphemes(text);
    return {clusters.begin(), clusters.end()};
}

size_t characterCount(std::string_view text) {
    return graphemeCount(text);
}

int countIdeographs(std::string_view text) {
    const std::u32string points = codePoints(text);
    return static_cast<int>(std::count_if(points.begin(), points.end(), isIdeograph));
}

std::string cleanRecognizedText(std::string_view text) {
    std::string result = collapsedWhitespace(text, [](char32_t) { return true; });
    if (isNoiseText(result) || characterCount(result) <= 1) return "";
    return result;
}

bool isNoiseText(std::string_view text) {
    static const UnicodeRegex nonWord("[^\\w]");
    static const UnicodeRegex letter("[a-zA-Z]");
    static const UnicodeRegex digit("\\d");
    static const UnicodeRegex letterDigit("[a-zA-Z]\\d");
    static const UnicodeRegex digitLetter("\\d[a-zA-Z]");

    const std::string_view trim = trimRegexWhitespace(text);
    if (trim.empty()) return true;
    const std::string trimText(trim);
    // White space is outside \w, so this also removes every space.
    const std::string core = nonWord.replaceAll(trim, "");
    const size_t coreCount = graphemeCount(core);
    if (coreCount == 1) {
        if (letter.fullMatch(core)) {
            console("🔇 过滤单个字母噪声: '" + trimText + "'");
            return true;
        }
        if (digit.fullMatch(core)) {
            console("🔇 过滤单个数字噪声: '" + trimText + "'");
            return true;
        }
    }
    if (coreCount == 2 && (letterDigit.fullMatch(core) || digitLetter.fullMatch(core))) {
        console("🔇 过滤字母数字组合噪声: '" + trimText + "'");
        return true;
    }
    // Marks alone (a row of dots read off a busy picture) are no subtitle, however many.
    if (coreCount != 2 && coreCount > 0 && graphemeCount(trim) > 2) return false;
    if (countIdeographs(trim) > 0) return false;
    console("🔇 过滤过短文本噪声: '" + trimText + "'");
    return true;
}

bool areTextsSimilar(std::string_view a, std::string_view b) {
    auto normalise = [](std::string_view text) {
        std::string kept;
        for (const char32_t c : codePoints(text)) {
            if (!isPunctuation(c) && !isSymbol(c) && !isRegexWhitespace(c) && !isSeparator(c))
                appendUtf8(kept, c);
        }
        return toLower(kept);
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
    return toLower(
        collapsedWhitespace(text, [](char32_t c) { return !isPunctuation(c) && !isSymbol(c); }));
}

int editDistance(std::string_view a, std::string_view b) {
    const auto x = quillora::graphemes(a);
    const auto y = quillora::graphemes(b);
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
    const auto x = quillora::graphemes(a);
    const auto y = quillora::graphemes(b);
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
    std::string current;
    for (const char32_t c : codePoints(text)) {
        if (isRegexWhitespace(c)) {
            if (!current.empty()) result.push_back(std::move(current));
            current.clear();
        } else {
            appendUtf8(current, c);
        }
    }
    if (!current.empty()) result.push_back(std::move(current));
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

}  // namespace quillora::extraction
