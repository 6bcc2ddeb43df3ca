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

/// The text of `region` in one upright frame as one cleaned line, "" when there is none: the
/// crop's text pixels are isolated, read line by line (best candidate each), the lines joined
/// with one space and cleaned. The batch run does the same with change detection around it.
std::string recognizeTextWithCroppedImage(const media::RgbImage& frame,
                                          const RecognitionRegion& region,
                                          ocr::TextRecognizer& recognizer);

}  // namespace quillora::extraction
