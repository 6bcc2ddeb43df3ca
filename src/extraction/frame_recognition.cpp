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

int subtitleBand(int pictureHeight) {
    return std::max(1, pictureHeight / 5);
}

ExaminedRect examinedRect(const media::PixelRect& region, int height) {
    // Half the region's height, up to a twelfth of the picture: a subtitle line or more.
    const int margin = std::min(region.height / 2, height / 12);
    const int top = std::clamp(region.y - margin, 0, std::max(height, 0));
    const int bottom = std::clamp(region.y + region.height + margin, top, std::max(height, 0));
    ExaminedRect examined;
    examined.region = region;
    examined.rect = {region.x, top, region.width, bottom - top};
    examined.regionTop = std::clamp(region.y - top, 0, bottom - top);
    examined.regionBottom = std::clamp(region.y + region.height - top, 0, bottom - top);
    return examined;
}

std::string recognizeTextWithCroppedImage(const media::RgbImage& frame,
                                          const RecognitionRegion& region,
                                          ocr::TextRecognizer& recognizer) {
    const ExaminedRect examined =
        examinedRect(cropRect(region, frame.width, frame.height), frame.height);
    const media::PixelRect& rect = examined.rect;
    const int x0 = std::clamp(rect.x, 0, frame.width);
    const int y0 = std::clamp(rect.y, 0, frame.height);
    const int x1 = std::clamp(rect.x + std::max(rect.width, 0), 0, frame.width);
    const int y1 = std::clamp(rect.y + std::max(rect.height, 0), 0, frame.height);
    if (x1 <= x0 || y1 <= y0) return "";
    const ocr::RgbView view{frame.pixel(x0, y0), x1 - x0, y1 - y0, frame.width * 3};
    ocr::TextMask mask = ocr::isolateSubtitleText(view, subtitleBand(frame.height));
    ocr::keepLinesMeeting(mask, examined.regionTop - (y0 - rect.y),
                          examined.regionBottom - (y0 - rect.y));
    if (mask.empty()) return "";
    try {
        return cleanRecognizedText(
            ocr::joinLines(recognizer.recognize(ocr::renderLinesForRecognition(mask)).lines));
    } catch (const std::exception&) {
        return "";
    }
}

}  // namespace quillora::extraction
