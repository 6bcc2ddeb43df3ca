#pragma once

#include <cstdint>
#include <optional>

namespace quillora {

/// A frame rate as editor documents name it: a whole timebase, and whether the frames really
/// run 1000/1001 slower (the NTSC rates 23.976, 29.97 and 59.94).
struct FrameRate {
    int64_t timebase = 25;
    bool ntsc = false;

    /// Frames per second: timebase × 1000/1001 for an NTSC rate.
    double perSecond() const {
        return ntsc ? static_cast<double>(timebase) * 1000.0 / 1001.0
                    : static_cast<double>(timebase);
    }
};

/// The NTSC rate that `fps` stands for (23.976 or 23.98, 29.97, 59.94, to within 0.01);
/// nullopt for any other value.
std::optional<FrameRate> ntscRate(double fps);

}  // namespace quillora
