#pragma once

#include "text/time_codes.h"

namespace quillora::extraction {

/// Frames are sampled at this fixed rate whatever the file's own rate: frame number i stands
/// for the instant i / 25 s, and the tracker and merger work on that grid.
inline constexpr double kSamplingRate = 25.0;

/// The instant frame `frame` stands for, in seconds.
inline double sampledFrameTime(int frame) {
    return frameTime(frame, kSamplingRate);
}

/// The sampled frame on screen at `seconds` (truncated).
inline int sampledFrameAt(double seconds) {
    return static_cast<int>(frameAt(seconds, kSamplingRate));
}

}  // namespace quillora::extraction
