#include <gtest/gtest.h>

#include "platform/preferences.h"
#include "shell/extraction_region.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

TEST(ShellExtractionRegion, DragsBecomeRegionsOfThePictureAndPersist) {
    // A 400 × 200 picture shown letterboxed at (50, 100) in a larger preview.
    const ScreenRect picture{50, 100, 400, 200};
    struct Case {
        ScreenPoint start;
        ScreenPoint end;
        std::optional<extraction::RecognitionRegion> region;
    };
    const Case cases[] = {
        {{50, 260}, {450, 300}, extraction::RecognitionRegion{0, 0.8, 1, 0.2}},
        {{450, 300}, {250, 200}, extraction::RecognitionRegion{0.5, 0.5, 0.5, 0.5}},
        {{0, 0}, {250, 150}, extraction::RecognitionRegion{0, 0, 0.5, 0.25}},  // clamped
        {{100, 150}, {106, 157}, std::nullopt},  // shorter than the minimum drag
        {{100, 150}, {300, 150}, std::nullopt},  // no height
        {{0, 0}, {40, 90}, std::nullopt},        // wholly outside the picture
    };
    for (const Case& c : cases) {
        const auto region = regionFromDrag(c.start, c.end, picture);
        ASSERT_EQ(region.has_value(), c.region.has_value()) << c.start.x << "," << c.start.y;
        if (!region) continue;
        EXPECT_DOUBLE_EQ(region->x, c.region->x);
        EXPECT_DOUBLE_EQ(region->y, c.region->y);
        EXPECT_DOUBLE_EQ(region->width, c.region->width);
        EXPECT_DOUBLE_EQ(region->height, c.region->height);
        // The box drawn for the region selects the same region again.
        const ScreenRect shown = regionOnScreen(*region, picture);
        const auto again = regionFromDrag({shown.x, shown.y},
                                          {shown.x + shown.width, shown.y + shown.height}, picture);
        ASSERT_TRUE(again);
        EXPECT_NEAR(again->y, region->y, 1e-12);
        EXPECT_NEAR(again->width, region->width, 1e-12);
    }
    EXPECT_EQ(regionText({0, 0.8, 1, 0.2}), "x: 0.00, y: 0.80, width: 1.00, height: 0.20");

    testing::TempDir dir;
    Preferences preferences(dir / "prefs.json");
    EXPECT_DOUBLE_EQ(savedRecognitionRegion(preferences).y, 0.8) << "the default at first";
    saveRecognitionRegion(preferences, {0.1, 0.6, 0.8, 0.3});
    const extraction::RecognitionRegion kept = savedRecognitionRegion(preferences);
    EXPECT_DOUBLE_EQ(kept.x, 0.1);
    EXPECT_DOUBLE_EQ(kept.height, 0.3);
    saveRecognitionRegion(preferences, {0.5, 0.5, 0.7, 0.2});  // past the right edge
    EXPECT_DOUBLE_EQ(savedRecognitionRegion(preferences).x, 0.0);
    preferences.setText("scantext_region_width", "wide");
    EXPECT_DOUBLE_EQ(savedRecognitionRegion(preferences).width, 1.0);
}

}  // namespace
}  // namespace quillora
