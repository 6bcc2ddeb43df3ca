#pragma once

#include <cstdint>
#include <vector>

namespace quillora::ocr {

/// Borrowed packed RGB pixels.
struct RgbView {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row
};

/// 8-bit grey pixels, rows packed.
struct GrayImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    bool empty() const { return width <= 0 || height <= 0; }
};

/// The pixels judged to belong to subtitle text (1) in a crop.
struct TextMask {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> on;
    std::vector<uint8_t> ink;  // 0..255 strength of each text pixel, for the recogniser
    int count = 0;
    int level = 0;  // mean brightness of light strokes (0 for dark text), which a fade changes
    bool empty() const { return count == 0; }
};

/// Keeps the text of a hard subtitle: light strokes next to a dark outline or shadow (any text
/// colour, so yellow lines survive), cleaned of specks and of blobs too big to be letters.
/// Falls back to dark strokes when the crop is a light background without such text.
/// `textScale` is the height of the band subtitles take at this picture size (a fifth of the
/// picture): what counts as a speck, a blob or too little ink scales with it, so a region
/// taller or shorter than the text reads the same. 0 takes the crop's height.
TextMask isolateSubtitleText(const RgbView& crop, int textScale = 0);

/// Keeps the lines of text that meet rows [top, bottom) and the lines stacked on them (less
/// than a line apart), drops the others: a region's edge cutting through a cue still gives the
/// whole cue; text well away from the region is not read.
void keepLinesMeeting(TextMask& mask, int top, int bottom);

/// True when two masks differ in so few pixels that they show the same text; compression noise
/// along the outline moves a few percent of the stroke pixels from frame to frame.
bool masksMatch(const TextMask& a, const TextMask& b, double tolerance = 0.04);

/// True when `probe` shows the text of `key`, though the picture around it moved: every stroke
/// of the key is still there and what is new is no more than background caught in the mask.
bool masksShowSameText(const TextMask& key, const TextMask& probe);

/// True when no more than `missingShare` of the key's strokes are gone from `probe`, whatever
/// it adds: over a busy picture, where bits of the picture come and go in both masks, only
/// text that is replaced removes most of them.
bool keyStrokesRemain(const TextMask& key, const TextMask& probe, double missingShare);

/// How `probe` follows `key` when a fade changes the text's brightness: `in` when all the key's
/// strokes are there and brighter (more of the text shows as it fades in), `out` when the probe
/// adds nothing away from the key's strokes and is fainter; `none` otherwise.
enum class Fade { none, in, out };
Fade fadeBetween(const TextMask& key, const TextMask& probe);

/// A cheap check, made on every frame, that the text of a key frame is still on screen as it
/// was: the pixels inside its thick strokes are still as light, and no more light pixels than
/// then lie outside the text's box (where a line added below or above would show), and they
/// are not brighter (a fade in). It holds only where it is sure; otherwise the frame needs the
/// full comparison.
class TextStillShown {
  public:
    TextStillShown() = default;
    /// `crop` is the picture `key` was isolated from.
    TextStillShown(const TextMask& key, const RgbView& crop);
    bool holds(const RgbView& crop) const;

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<int> core_;                    // pixel indices inside thick strokes
    int lightest_ = 0;                         // a core pixel darker than this is gone
    double coreLevel_ = 0;                     // the core's mean brightness
    int x0_ = 0, y0_ = 0, x1_ = -1, y1_ = -1;  // the text's box, widened by a margin
    int lightOutside_ = 0;
};

/// Black text on white, one image per line of text (top to bottom), each cut to its line with a
/// margin and scaled to the line height the recogniser reads best: the images it reads.
std::vector<GrayImage> renderLinesForRecognition(const TextMask& mask);

}  // namespace quillora::ocr
