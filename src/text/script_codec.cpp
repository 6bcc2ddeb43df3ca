#include "text/script_codec.h"

#include "platform/console.h"
#include "text/unicode.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace quillora {

const std::array<PunctuationToken, 37> kPunctuationTokens = {{
    {0, ",", true},    {1, "!", true},   {2, "|", true},   {3, "~", true},    {4, "*", true},
    {5, "=", true},    {6, "\\", true},  {7, "'", true},   {8, ";", true},    {9, "/", true},
    {10, ":", false},  {11, ",", false}, {12, "?", true},  {13, "？", true},  {14, ".", true},
    {15, "、", true},  {16, "【", true}, {17, "】", true}, {18, "：", false}, {19, "，", true},
    {20, "。", true},  {21, "/", false}, {22, "%", true},  {23, "-", true},   {24, "（", false},
    {25, "）", false}, {26, "(", false}, {27, ")", false}, {28, "@", true},   {29, "#", true},
    {30, "$", true},   {31, "^", true},  {32, "&", true},  {33, "+", true},   {34, "_", true},
    {35, ">", true},   {36, "<", true},
}};

namespace {

constexpr std::string_view kTokenOpen = "砚";
constexpr std::string_view kTokenClose = "篁";

using Replacement = std::pair<std::string_view, std::string_view>;

// Whole-text replacements run one after another, each on the previous output.
std::string applyInOrder(std::string text, const std::vector<Replacement>& steps) {
    for (const auto& [from, to] : steps) {
        if (text.find(from) != std::string::npos) text = replaceAll(text, from, to);
    }
    return text;
}

// Line-initial markers "\n<digit>" -> "\n<numeral>砚篁", in the order 1..9, 0.
const std::vector<std::pair<std::string, std::string>>& digitMarkers() {
    static const std::vector<std::pair<std::string, std::string>> markers = [] {
        const std::array<std::pair<char, std::string_view>, 10> numerals = {{{'1', "一"},
                                                                             {'2', "二"},
                                                                             {'3', "三"},
                                                                             {'4', "四"},
                                                                             {'5', "五"},
                                                                             {'6', "六"},
                                                                             {'7', "七"},
                                                                             {'8', "八"},
                                                                             {'9', "九"},
                                                                             {'0', "零"}}};
        std::vector<std::pair<std::string, std::string>> built;
        for (const auto& [digit, numeral] : numerals) {
            // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for
            // "\n" + std::string&&.
            std::string marker = "\n";
            marker += numeral;
            marker += kTokenOpen;
            marker += kTokenClose;
            built.emplace_back(std::string("\n") + digit, std::move(marker));
        }
        return built;
    }();
    return markers;
}

const std::vector<Replacement> kLineInitialX = {{"\nx", "\n艾克斯x"}, {"\nX", "\n艾克斯X"}};
const std::vector<Replacement> kInaudible = {{"\n（听不清）\n", "\n"}, {"\n(听不清)\n", "\n"}};
const std::vector<Replacement> kShortLines = {{"\n好\n", "\n好ok\n"},
                                              {"\n你好\n", "\n你好hallo hi\n"},
                                              {"\n大家好\n", "\nhallo大家好\n"},
                                              {"\n甲乙丙\n", "\n甲乙丙mars\n"}};

std::vector<Replacement> reversed(const std::vector<Replacement>& steps) {
    std::vector<Replacement> out;
    for (const auto& [from, to] : steps)
        out.emplace_back(to, from);
    return out;
}

// The encoded characters never overlap one another (each starts with a byte that cannot occur
// inside another) and no token contains one, so one left-to-right pass gives exactly what
// replacing them one character after another in table order gives.
std::string encodePunctuation(std::string_view text) {
    static const auto byFirstByte = [] {
        std::array<std::vector<std::pair<std::string_view, std::string>>, 256> table;
        for (const auto& token : kPunctuationTokens) {
            if (!token.encodedOnUpload) continue;
            auto first = static_cast<unsigned char>(token.character.front());
            table[first].emplace_back(
                token.character,
                std::string(kTokenOpen) + std::to_string(token.code) + std::string(kTokenClose));
        }
        return table;
    }();
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (std::size_t i = 0; i < text.size();) {
        const auto& candidates = byFirstByte[static_cast<unsigned char>(text[i])];
        bool replaced = false;
        for (const auto& [character, token] : candidates) {
            if (text.substr(i, character.size()) == character) {
                out += token;
                i += character.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out.push_back(text[i++]);
    }
    return out;
}

// Tokens are "砚" digits "篁" with the code written without leading zeros, so two tokens never
// overlap and a decoded character never forms a new one: one pass equals the per-code passes
// in ascending order.
std::string decodePunctuation(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t at = text.find(kTokenOpen); at != std::string_view::npos;
         at = text.find(kTokenOpen, at + kTokenOpen.size())) {
        std::size_t digitsBegin = at + kTokenOpen.size();
        std::size_t digitsEnd = digitsBegin;
        while (digitsEnd < text.size() && digitsEnd - digitsBegin < 3 && text[digitsEnd] >= '0' &&
               text[digitsEnd] <= '9') {
            ++digitsEnd;
        }
        std::string_view digits = text.substr(digitsBegin, digitsEnd - digitsBegin);
        if (digits.empty() || digits.size() > 2 || (digits.size() == 2 && digits[0] == '0')) {
            continue;
        }
        if (text.substr(digitsEnd, kTokenClose.size()) != kTokenClose) continue;
        int code = digits[0] - '0';
        if (digits.size() == 2) code = code * 10 + (digits[1] - '0');
        if (code >= static_cast<int>(kPunctuationTokens.size())) continue;
        out.append(text.substr(copied, at - copied));
        out.append(kPunctuationTokens[static_cast<std::size_t>(code)].character);
        copied = digitsEnd + kTokenClose.size();
        at = copied - kTokenOpen.size();
    }
    out.append(text.substr(copied));
    return out;
}

struct QuoteMarker {
    std::string_view mark;
    std::string_view emoji;
};

constexpr std::array<QuoteMarker, 3> kHeadMarkers = {{
    {"\u201C", "\u2764\uFE0F"},
    {"\"", "\u270C\uFE0F"},
    {"\u300A", "\U0001F44D"},
}};

constexpr std::array<QuoteMarker, 3> kTailMarkers = {{
    {"\u201D", "\U0001F60E"},
    {"\"", "\U0001F3B6"},
    {"\u300B", "\U0001F60D"},
}};

const QuoteMarker* markerForMark(const std::array<QuoteMarker, 3>& table,
                                 std::string_view character) {
    for (const auto& marker : table) {
        if (marker.mark == character) return &marker;
    }
    return nullptr;
}

const QuoteMarker* markerForEmoji(const std::array<QuoteMarker, 3>& table,
                                  std::string_view character) {
    for (const auto& marker : table) {
        if (marker.emoji == character) return &marker;
    }
    return nullptr;
}

bool startsWithAnyMark(std::string_view line, const std::array<QuoteMarker, 3>& table) {
    return std::any_of(table.begin(), table.end(),
                       [&](const QuoteMarker& m) { return line.starts_with(m.mark); });
}

bool endsWithAnyMark(std::string_view line, const std::array<QuoteMarker, 3>& table) {
    return std::any_of(table.begin(), table.end(),
                       [&](const QuoteMarker& m) { return line.ends_with(m.mark); });
}

bool containsAnyEmoji(std::string_view line) {
    auto contains = [&](const auto& table) {
        return std::any_of(table.begin(), table.end(), [&](const QuoteMarker& m) {
            return line.find(m.emoji) != std::string_view::npos;
        });
    };
    return contains(kHeadMarkers) || contains(kTailMarkers);
}

// The text of `line` after its first `count` grapheme clusters (as listed in `clusters`).
std::string_view afterClusters(std::string_view line, const std::vector<std::string_view>& clusters,
                               std::size_t count) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i)
        bytes += clusters[i].size();
    return line.substr(bytes);
}

template <typename LineFunction>
std::string mapNonBlankLines(std::string_view text, LineFunction function) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    bool first = true;
    for (auto line : splitNewlines(text)) {
        if (!first) out.push_back('\n');
        first = false;
        if (isBlankLine(line)) {
            out.append(line);
        } else {
            out.append(function(line));
        }
    }
    return out;
}

// Decodes the one shape reverseIngredientLineV2's passes get wrong: a single character quoted
// at both ends ("“书”") is encoded as character, tail emoji, head emoji.
std::optional<std::string> decodeQuotedSingleCharacter(const std::vector<std::string_view>& g) {
    if (g.size() != 3) return std::nullopt;
    const QuoteMarker* tail = markerForEmoji(kTailMarkers, g[1]);
    const QuoteMarker* head = markerForEmoji(kHeadMarkers, g[2]);
    if (!tail || !head) return std::nullopt;
    return std::string(head->mark) + std::string(g[0]) + std::string(tail->mark);
}

}  // namespace

std::string removeSpacelines(std::string_view text) {
    std::string unified = replaceAll(replaceAll(text, "\r\n", "\n"), "\r", "\n");
    std::string out;
    out.reserve(unified.size());
    for (auto line : splitNewlines(unified)) {
        auto trimmed = trimTrailingRegexWhitespace(line);
        if (trimmed.empty()) continue;
        if (!out.empty()) out.push_back('\n');
        out.append(trimmed);
    }
    return out;
}

std::string removeFuhao(std::string_view text) {
    std::string encoded = encodePunctuation(text);
    encoded = applyInOrder(std::move(encoded), kLineInitialX);
    encoded = applyInOrder(std::move(encoded), kInaudible);
    for (const auto& [from, to] : digitMarkers()) {
        if (encoded.find(from) != std::string::npos) encoded = replaceAll(encoded, from, to);
    }
    encoded = applyInOrder(std::move(encoded), kShortLines);
    return addemo(encoded);
}

std::string addfuhao(std::string_view text) {
    // The quotation markers are added last on upload, after the tokens and line markers, so they
    // come off first: a closing quote after a token ("。”") puts its emoji inside the token.
    std::string decoded = reverseIngredientParagraph(text);
    decoded = decodePunctuation(decoded);
    static const auto kLineInitialXBack = reversed(kLineInitialX);
    decoded = applyInOrder(std::move(decoded), kLineInitialXBack);
    for (const auto& [plain, marker] : digitMarkers()) {
        if (decoded.find(marker) != std::string::npos) decoded = replaceAll(decoded, marker, plain);
    }
    static const auto kShortLinesBack = reversed(kShortLines);
    decoded = applyInOrder(std::move(decoded), kShortLinesBack);
    return applyInOrder(std::move(decoded), {{"拜拜", "再见"}});
}

std::string addemo(std::string_view text) {
    return mapNonBlankLines(text, headIngredientLine);
}

std::string headIngredientLine(std::string_view line) {
    if (graphemeCountUpTo(line, 2) < 2) {
        console("too short");
        return std::string(line);
    }
    std::string result(line);
    if (startsWithAnyMark(line, kHeadMarkers)) {
        if (const QuoteMarker* head = markerForMark(kHeadMarkers, firstGrapheme(line))) {
            std::string_view rest = line.substr(head->mark.size());
            if (graphemeCountUpTo(rest, 2) >= 2) {
                std::string_view first = firstGrapheme(rest);
                result = std::string(first) + std::string(head->emoji) +
                         std::string(rest.substr(first.size()));
            } else {
                result = std::string(rest) + std::string(head->emoji);
            }
        }
    }
    if (endsWithAnyMark(result, kTailMarkers) && graphemeCountUpTo(result, 2) >= 2) {
        if (const QuoteMarker* tail = markerForMark(kTailMarkers, lastGrapheme(result))) {
            std::string_view rest =
                std::string_view(result).substr(0, result.size() - tail->mark.size());
            if (graphemeCountUpTo(rest, 2) >= 2) {
                std::string_view last = lastGrapheme(rest);
                result = std::string(rest.substr(0, rest.size() - last.size())) +
                         std::string(tail->emoji) + std::string(last);
            } else {
                result = std::string(rest) + std::string(tail->emoji);
            }
        }
    }
    return result;
}

std::string reverseIngredientParagraph(std::string_view text) {
    return mapNonBlankLines(text, reverseIngredientLineV2);
}

std::string reverseIngredientLineV2(std::string_view line) {
    if (!containsAnyEmoji(line)) return std::string(line);
    auto clusters = graphemes(line);
    if (auto decoded = decodeQuotedSingleCharacter(clusters)) return *decoded;

    std::string current(line);
    for (const auto& head : kHeadMarkers) {
        if (!clusters.empty() && clusters[0] == head.emoji) {
            std::string_view after = afterClusters(line, clusters, 1);
            if (!after.empty()) current = std::string(head.mark) + std::string(after);
            break;
        }
        if (clusters.size() > 1 && clusters[1] == head.emoji) {
            current = std::string(head.mark) + std::string(clusters[0]) +
                      std::string(afterClusters(line, clusters, 2));
            break;
        }
    }

    if (current != line) clusters = graphemes(current);
    const std::size_t n = clusters.size();
    for (const auto& tail : kTailMarkers) {
        if (n > 0 && clusters[n - 1] == tail.emoji) {
            std::string_view before =
                std::string_view(current).substr(0, current.size() - clusters[n - 1].size());
            if (before.empty()) return current;
            return std::string(before) + std::string(tail.mark);
        }
        if (n > 1 && clusters[n - 2] == tail.emoji) {
            std::size_t pieceStart =
                current.size() - clusters[n - 1].size() - clusters[n - 2].size();
            return current.substr(0, pieceStart) + std::string(clusters[n - 1]) +
                   std::string(tail.mark);
        }
    }
    return current;
}

std::string srttxt(std::string_view srt) {
    std::string normalized = replaceAll(srt, "\r\n", "\n");
    std::string out;
    for (auto block : splitOn(normalized, "\n\n")) {
        std::vector<std::string_view> lines;
        for (auto line : splitNewlines(block)) {
            if (!line.empty()) lines.push_back(line);
        }
        if (lines.size() < 3) continue;
        out.append(joinStrings(std::vector(lines.begin() + 2, lines.end()), " "));
        out.push_back('\n');
    }
    return out;
}

}  // namespace quillora
