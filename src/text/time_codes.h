#pragma once

// SRT time codes ("HH:MM:SS,mmm", milliseconds always truncated) and the block-level helpers
// built on them.
//
// Values outside the domain of the formatters never fail: NaN counts as 0, and infinities or
// values whose milliseconds (or whole seconds) do not fit a 64-bit signed integer are clamped to
// the 64-bit range. A frame rate of 0 therefore gives "00:00:00,000" for 0 frames (0/0 is NaN)
// and the clamped extreme for any other count.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillora {

/// Start and end of one SRT block, in seconds.
struct SrtTimeRange {
    double startTime = 0;
    double endTime = 0;
    bool operator==(const SrtTimeRange&) const = default;
};

/// "h:m:s,ms" where ":" and "," are interchangeable separators and each of the four pieces is a
/// signed decimal integer; the fourth piece counts milliseconds.
std::optional<double> parseTime(std::string_view text);

/// Seconds (double) to "%02d:%02d:%02d,%03d"; hours do not wrap and grow past two digits.
std::string timeString(double seconds);

/// Same format from single-precision seconds, computed in single precision throughout.
std::string secondsToSRTTime(float totalSeconds);

/// Same format from a frame count at `timebase` frames per second.
std::string framesToSRTTime(int64_t frames, double timebase);

/// Same format for a computed time (a frame number over a rate, an aligner's estimate):
/// milliseconds are truncated, but a product that falls a hair (a millionth of a millisecond)
/// below a whole millisecond through binary rounding counts as that millisecond, so 29 / 25.0
/// prints ",160" rather than ",159". Negative and non-finite times print as zero.
std::string computedTimeString(double seconds);

/// The instant at which frame `frame` starts at `fps` frames per second.
inline double frameTime(int64_t frame, double fps) {
    return static_cast<double>(frame) / fps;
}

/// The frame showing at `seconds` at `fps` frames per second: the product truncated toward zero
/// (clamped to the 64-bit range; NaN gives 0).
int64_t frameAt(double seconds, double fps);

/// The time range on the second line of an SRT block.
std::optional<SrtTimeRange> parseTimeRange(std::string_view block);

/// The block with the end time on its second line replaced by `newEndTime`; unchanged when the
/// second line is not a time range.
std::string updateBlockEndTime(std::string_view block, std::string_view newEndTime);

/// Closes gaps (and overlaps) shorter than `frame` / 25 seconds between consecutive SRT blocks by
/// moving each block's end to the next block's start.
std::string adjustTimeGaps(std::string_view txt, double frame);

}  // namespace quillora
