#include "extraction/frame_recognition.h"

#include <algorithm>
#include <cstring>

#include "extraction/text_measures.h"
#include "platform/ocr/subtitle_mask.h"
#include "platform/ocr/text_recognizer.h"

namespace quillora::extraction {

media::PixelRect cropRect(const RecognitionRegion& region, int width, int height) {
    return {static_cast<int>(region.x * width), static_cast<int>(region.y * height),
            static_cast<int>(region.width * width), static_cast<int>(region.height * height)};
}

std::string recognizeTextWithCroppedImage(const media::RgbImage& frame,
                                          const RecognitionRegion& region,
                                          ocr::TextRecognizer& recognizer) {
    const media::PixelRect rect = cropRect(region, frame.width, frame.height);
    const int x0 = std::clamp(rect.x, 0, frame.width);
    const int y0 = std::clamp(rect.y, 0, frame.height);
    const int x1 = std::clamp(rect.x + std::max(rect.width, 0), 0, frame.width);
    const int y1 = std::clamp(rect.y + std::max(rect.height, 0), 0, frame.height);
    if (x1 <= x0 || y1 <= y0) return "";
    const ocr::RgbView view{frame.pixel(x0, y0), x1 - x0, y1 - y0, frame.width * 3};
    const ocr::TextMask mask = ocr::isolateSubtitleText(view);
    if (mask.empty()) return "";
    try {
        return cleanRecognizedText(
            ocr::joinLines(recognizer.recognize(ocr::renderLinesForRecognition(mask)).lines));
    } catch (const std::exception&) {
        return "";
    }
}

}  // namespace quillora::extraction
