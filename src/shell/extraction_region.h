#pragma once

#include <optional>
#include <string>

#include "extraction/video_processor.h"

namespace quillora {

class Preferences;

/// A point or a rectangle on the screen, in pixels.
struct ScreenPoint {
    double x = 0;
    double y = 0;
};
struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

/// The shortest drag that selects a region, in pixels.
inline constexpr double kMinimumRegionDrag = 10;

/// The recognition region a drag from `start` to `end` selects over the picture shown at
/// `picture`: both points are kept inside the picture and the rectangle they span becomes
/// fractions of its width and height (origin top-left). Nothing for a drag shorter than
/// kMinimumRegionDrag or a rectangle without area.
std::optional<extraction::RecognitionRegion> regionFromDrag(ScreenPoint start, ScreenPoint end,
                                                            ScreenRect picture);

/// Where `region` lies over the picture shown at `picture`.
ScreenRect regionOnScreen(const extraction::RecognitionRegion& region, ScreenRect picture);

/// "x: %.2f, y: %.2f, width: %.2f, height: %.2f".
std::string regionText(const extraction::RecognitionRegion& region);

/// The region last chosen on the extraction screen, kept in the preferences for the next
/// session; the default region when none was kept or the kept one is not a region of the frame.
extraction::RecognitionRegion savedRecognitionRegion(const Preferences& preferences);
void saveRecognitionRegion(Preferences& preferences, const extraction::RecognitionRegion& region);

}  // namespace quillora
