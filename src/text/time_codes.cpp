#include "text/time_codes.h"

#include "text/numbers.h"
#include "text/unicode.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace quillora {
namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// Truncation toward zero that is defined for every input: NaN is 0, the rest is clamped.
int64_t truncateClamped(double value) {
    if (std::isnan(value)) return 0;
    if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
    if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

bool fitsInt64(double value) {
    return value < kTwoTo63 && value >= -kTwoTo63;
}

// The one printer of SRT time codes; every formatter below only decides the pieces.
std::string formatTimeCode(int64_t hours, int64_t minutes, int64_t seconds, int64_t millis) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld,%03lld",
                  static_cast<long long>(hours), static_cast<long long>(minutes),
                  static_cast<long long>(seconds), static_cast<long long>(millis));
    return buffer;
}

std::string formatMilliseconds(int64_t total) {
    return formatTimeCode(total / 3600000, (total / 60000) % 60, (total / 1000) % 60, total % 1000);
}

std::string formatWholeSeconds(int64_t whole, int64_t millis) {
    return formatTimeCode(whole / 3600, (whole % 3600) / 60, whole % 60, millis);
}

}  // namespace

std::optional<double> parseTime(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':' || text[i] == ',') {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
        if (pieces.size() > 4) return std::nullopt;
    }
    pieces.push_back(text.substr(start));
    if (pieces.size() != 4) return std::nullopt;
    int64_t values[4];
    for (std::size_t i = 0; i < 4; ++i) {
        auto value = parseWholeInteger(pieces[i]);
        if (!value) return std::nullopt;
        values[i] = *value;
    }
    return static_cast<double>(values[0]) * 3600.0 + static_cast<double>(values[1]) * 60.0 +
           static_cast<double>(values[2]) + static_cast<double>(values[3]) / 1000.0;
}

std::string timeString(double seconds) {
    return formatMilliseconds(truncateClamped(seconds * 1000.0));
}

std::string computedTimeString(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    return formatMilliseconds(truncateClamped(std::floor(seconds * 1000.0 + 1e-6)));
}

int64_t frameAt(double seconds, double fps) {
    return truncateClamped(seconds * fps);
}

std::string secondsToSRTTime(float totalSeconds) {
    if (std::isnan(totalSeconds)) return formatWholeSeconds(0, 0);
    if (!fitsInt64(static_cast<double>(totalSeconds))) {
        return formatWholeSeconds(truncateClamped(static_cast<double>(totalSeconds)), 0);
    }
    auto whole = static_cast<int64_t>(totalSeconds);
    // Kept in single precision on purpose: 2.3f gives 299 ms, as stored files expect.
    float fraction = totalSeconds - static_cast<float>(whole);
    float millis = fraction * 1000.0f;
    return formatWholeSeconds(whole, static_cast<int64_t>(millis));
}

std::string framesToSRTTime(int64_t frames, double timebase) {
    double seconds = frameTime(frames, timebase);
    if (std::isnan(seconds)) return formatWholeSeconds(0, 0);
    if (!fitsInt64(seconds)) return formatWholeSeconds(truncateClamped(seconds), 0);
    auto whole = static_cast<int64_t>(seconds);
    double fraction = seconds - static_cast<double>(whole);
    return formatWholeSeconds(whole, static_cast<int64_t>(fraction * 1000.0));
}

std::optional<SrtTimeRange> parseTimeRange(std::string_view block) {
    auto lines = splitNewlines(block);
    if (lines.size() < 2) return std::nullopt;
    auto pieces = splitOn(lines[1], " --> ");
    if (pieces.size() != 2) return std::nullopt;
    auto start = parseTime(trimHorizontalWhitespace(pieces[0]));
    auto end = parseTime(trimHorizontalWhitespace(pieces[1]));
    if (!start || !end) return std::nullopt;
    return SrtTimeRange{*start, *end};
}

std::string updateBlockEndTime(std::string_view block, std::string_view newEndTime) {
    auto lines = splitNewlines(block);
    if (lines.size() < 2) return std::string(block);
    auto pieces = splitOn(lines[1], " --> ");
    if (pieces.size() != 2) return std::string(block);
    std::string timeLine = std::string(pieces[0]) + " --> " + std::string(newEndTime);
    lines[1] = timeLine;
    return joinStrings(lines, "\n");
}

std::string adjustTimeGaps(std::string_view txt, double frame) {
    std::vector<std::string_view> blocks;
    for (auto piece : splitOn(txt, "\n\n")) {
        if (!piece.empty()) blocks.push_back(piece);
    }
    // Changing a block's end never changes the start of the block after it, so each range is
    // read once from the original text.
    std::vector<std::optional<SrtTimeRange>> ranges;
    ranges.reserve(blocks.size());
    for (auto block : blocks)
        ranges.push_back(parseTimeRange(block));

    const double limit = frame / 25.0;
    std::string out;
    out.reserve(txt.size() + txt.size() / 8);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (i > 0) out.append("\n\n");
        bool close = i + 1 < blocks.size() && ranges[i] && ranges[i + 1] &&
                     ranges[i + 1]->startTime - ranges[i]->endTime < limit;
        if (close) {
            out.append(updateBlockEndTime(blocks[i], timeString(ranges[i + 1]->startTime)));
        } else {
            out.append(blocks[i]);
        }
    }
    return out;
}

}  // namespace quillora
