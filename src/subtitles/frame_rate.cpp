#include "subtitles/frame_rate.h"

#include <cmath>

namespace quillora {

std::optional<FrameRate> ntscRate(double fps) {
    for (const int64_t timebase : {24, 30, 60}) {
        const FrameRate rate{timebase, true};
        if (std::fabs(fps - rate.perSecond()) < 0.01) return rate;
    }
    return std::nullopt;
}

}  // namespace quillora
