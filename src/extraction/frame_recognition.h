#pragma once

#include <string>

#include "extraction/video_processor.h"
#include "platform/media/media_file.h"

namespace quillora::ocr {
class TextRecognizer;
}

namespace quillora::extraction {

/// The region in pixels of a width x height frame, each value truncated.
media::PixelRect cropRect(const RecognitionRegion& region, int width, int height);

/// Subtitles take about the bottom fifth of a picture this tall, whatever region the user drew;
/// text isolation sizes its thresholds by that.
int subtitleBand(int pictureHeight);

/// What is examined for a region: the region itself, where frames are compared, and the
/// region widened up and down by about a line, which is read, so that a line the region's edge
/// cuts through is still read whole; of that, only the lines meeting the region's rows.
struct ExaminedRect {
    media::PixelRect region;
    media::PixelRect rect;  // the widened rectangle
    int regionTop = 0;      // first row of the region, in the examined rectangle
    int regionBottom = 0;   // one past its last row
};
ExaminedRect examinedRect(const media::PixelRect& region, int pictureHeight);

/// The text of `region` in one upright frame as one cleaned line, "" when there is none: the
/// examined rectangle's text pixels are isolated, the lines meeting the region read one by one,
/// joined with one space and cleaned. The batch run does the same with change detection around
/// it.
std::string recognizeTextWithCroppedImage(const media::RgbImage& frame,
                                          const RecognitionRegion& region,
                                          ocr::TextRecognizer& recognizer);

}  // namespace quillora::extraction
