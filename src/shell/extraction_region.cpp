#include "shell/extraction_region.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/preferences.h"

namespace quillora {

namespace {

constexpr const char* kRegionKeys[] = {"scantext_region_x", "scantext_region_y",
                                       "scantext_region_width", "scantext_region_height"};

double clamp(double value, double low, double high) {
    return std::min(std::max(value, low), high);
}

}  // namespace

std::optional<extraction::RecognitionRegion> regionFromDrag(ScreenPoint start, ScreenPoint end,
                                                            ScreenRect picture) {
    if (std::hypot(end.x - start.x, end.y - start.y) < kMinimumRegionDrag) return std::nullopt;
    if (picture.width <= 0 || picture.height <= 0) return std::nullopt;
    const auto fractionX = [&](double x) { return clamp((x - picture.x) / picture.width, 0, 1); };
    const auto fractionY = [&](double y) { return clamp((y - picture.y) / picture.height, 0, 1); };
    const double left = std::min(fractionX(start.x), fractionX(end.x));
    const double right = std::max(fractionX(start.x), fractionX(end.x));
    const double top = std::min(fractionY(start.y), fractionY(end.y));
    const double bottom = std::max(fractionY(start.y), fractionY(end.y));
    if (right - left <= 0 || bottom - top <= 0) return std::nullopt;
    return extraction::RecognitionRegion{left, top, right - left, bottom - top};
}

ScreenRect regionOnScreen(const extraction::RecognitionRegion& region, ScreenRect picture) {
    return {picture.x + region.x * picture.width, picture.y + region.y * picture.height,
            region.width * picture.width, region.height * picture.height};
}

std::string regionText(const extraction::RecognitionRegion& region) {
    char text[128];
    std::snprintf(text, sizeof text, "x: %.2f, y: %.2f, width: %.2f, height: %.2f", region.x,
                  region.y, region.width, region.height);
    return text;
}

extraction::RecognitionRegion savedRecognitionRegion(const Preferences& preferences) {
    double values[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<double> stored = preferences.number(kRegionKeys[i]);
        if (!stored || !std::isfinite(*stored)) return {};
        values[i] = *stored;
    }
    const extraction::RecognitionRegion region{values[0], values[1], values[2], values[3]};
    const double slack = 1e-9;
    const bool inside = region.x >= 0 && region.y >= 0 && region.width > 0 && region.height > 0 &&
                        region.x + region.width <= 1 + slack &&
                        region.y + region.height <= 1 + slack;
    return inside ? region : extraction::RecognitionRegion{};
}

void saveRecognitionRegion(Preferences& preferences, const extraction::RecognitionRegion& region) {
    const double values[] = {region.x, region.y, region.width, region.height};
    for (int i = 0; i < 4; ++i)
        preferences.setNumber(kRegionKeys[i], values[i]);
}

}  // namespace quillora
