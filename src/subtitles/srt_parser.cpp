#include "subtitles/srt_parser.h"

#include "platform/console.h"
#include "platform/files.h"
#include "text/numbers.h"
#include "text/text_decoding.h"
#include "text/time_codes.h"
#include "text/unicode.h"

#include <optional>

namespace quillora {
namespace {

std::vector<std::string_view> nonEmptyLines(std::string_view block) {
    std::vector<std::string_view> lines;
    for (auto line : splitNewlines(block)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// Never fails: a malformed time is 0 or the sum of the terms that do read.
double readParserTime(std::string_view text) {
    auto pieces = splitOn(text, ":");
    if (pieces.size() != 3) return 0;
    auto term = [](std::string_view piece) { return parseDecimalNumber(piece).value_or(0.0); };
    auto secondParts = splitOn(pieces[2], ",");
    double millis = secondParts.size() > 1 ? term(secondParts[1]) : 0.0;
    return term(pieces[0]) * 3600.0 + term(pieces[1]) * 60.0 + term(secondParts[0]) +
           millis / 1000.0;
}

// Single precision; nothing when the time does not have exactly three ":" pieces.
std::optional<float> readItemTime(std::string_view text) {
    std::string normalized = replaceAll(text, ",", ".");
    auto pieces = splitOn(normalized, ":");
    if (pieces.size() != 3) return std::nullopt;
    auto term = [](std::string_view piece) {
        return parseDecimalNumberFloat(piece).value_or(0.0f);
    };
    float hours = term(pieces[0]);
    float minutes = term(pieces[1]);
    auto secondParts = splitOn(pieces[2], ".");
    float seconds = term(secondParts[0]);
    float millis = secondParts.size() > 1 ? term(secondParts[1]) : 0.0f;
    float whole = hours * 3600.0f + minutes * 60.0f + seconds;
    return millis / 1000.0f + whole;
}

}  // namespace

std::vector<Subtitle> SRTParser::parse(std::string_view srt) const {
    std::string normalized = replaceAll(srt, "\r\n", "\n");
    std::vector<Subtitle> subtitles;
    for (auto block : splitOn(normalized, "\n\n")) {
        auto lines = nonEmptyLines(block);
        if (lines.size() < 3) continue;
        auto times = splitOn(lines[1], " --> ");
        if (times.size() != 2) continue;
        Subtitle subtitle;
        subtitle.index = parseWholeInteger(lines[0]).value_or(0);
        subtitle.startTime = readParserTime(times[0]);
        subtitle.endTime = readParserTime(times[1]);
        subtitle.text = joinStrings(std::vector(lines.begin() + 2, lines.end()), " ");
        subtitles.push_back(std::move(subtitle));
    }
    return subtitles;
}

std::string SRTParser::merageText(std::string_view srt, std::string_view text) const {
    auto subtitles = parse(srt);
    std::string extra = replaceAll(text, "\n\n", "\n");
    auto lines = splitNewlines(extra);
    if (subtitles.size() != lines.size()) {
        console("Error: Subtitle count (" + std::to_string(subtitles.size()) +
                ") doesn't match text lines count (" + std::to_string(lines.size()) + ")");
        return std::string(srt);
    }
    std::string out;
    out.reserve(srt.size() + extra.size() + subtitles.size() * 8);
    for (std::size_t i = 0; i < subtitles.size(); ++i) {
        out += std::to_string(i + 1);
        out += '\n';
        out += timeString(subtitles[i].startTime);
        out += " --> ";
        out += timeString(subtitles[i].endTime);
        out += '\n';
        out += lines[i];
        out += '\n';
        out += subtitles[i].text;
        out += "\n\n";
    }
    return out;
}

std::string decodeSubtitleText(std::string_view bytes) {
    if (auto text = decodeUtf8(bytes)) return *text;
    if (auto text = decodeUtf16(bytes)) return *text;
    if (auto text = decodeAscii(bytes)) return *text;
    if (auto text = decodeWindows1252(bytes)) return *text;
    return decodeLatin1(bytes);
}

std::vector<SubtitleItem> parseSubtitleItems(std::string_view text) {
    std::string cleaned = replaceAll(replaceAll(text, "<b>", ""), "</b>", "");
    // Files saved with Windows line ends would otherwise read as one block.
    cleaned = replaceAll(cleaned, "\r\n", "\n");
    std::vector<SubtitleItem> items;
    auto blocks = splitOn(cleaned, "\n\n");
    for (std::size_t position = 0; position < blocks.size(); ++position) {
        auto lines = nonEmptyLines(blocks[position]);
        if (lines.size() < 3) continue;
        auto times = splitOn(lines[1], " --> ");
        if (times.size() != 2) continue;
        auto start = readItemTime(trimHorizontalWhitespace(times[0]));
        auto end = readItemTime(trimHorizontalWhitespace(times[1]));
        if (!start || !end) continue;
        SubtitleItem item;
        item.rowIndex = parseWholeInteger(lines[0]).value_or(static_cast<int64_t>(position) + 1);
        item.start = *start;
        item.end = *end;
        item.text = joinStrings(std::vector(lines.begin() + 2, lines.end()), "\n");
        item.firstLine = std::string(lines[2]);
        item.restLines = joinStrings(std::vector(lines.begin() + 3, lines.end()), "\n");
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<SubtitleItem> readsrtofBytes(std::string_view bytes) {
    std::string text = decodeSubtitleText(bytes);
    if (text.empty()) return {};
    return parseSubtitleItems(text);
}

std::vector<SubtitleItem> readsrtof(const std::filesystem::path& url) {
    std::string bytes;
    try {
        bytes = readFile(url);
    } catch (const std::exception&) {
        return {};
    }
    return readsrtofBytes(bytes);
}

}  // namespace quillora
