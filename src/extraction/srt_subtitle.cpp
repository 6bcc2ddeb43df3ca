#include "extraction/srt_subtitle.h"

#include "platform/uuid.h"
#include "text/time_codes.h"

namespace quillora::extraction {

std::string SRTSubtitle::formatTime(double seconds) {
    return computedTimeString(seconds);
}

SRTSubtitle makeSubtitle(int index, double startTime, double endTime, std::string text) {
    return SRTSubtitle{uuidString(), index, startTime, endTime, std::move(text)};
}

std::string srtText(const std::vector<SRTSubtitle>& subtitles) {
    std::string out;
    for (size_t k = 0; k < subtitles.size(); ++k) {
        const auto& entry = subtitles[k];
        if (k > 0) out += "\n";
        out += std::to_string(entry.index) + "\n" + SRTSubtitle::formatTime(entry.startTime) +
               " --> " + SRTSubtitle::formatTime(entry.endTime) + "\n" + entry.text + "\n";
    }
    return out;
}

}  // namespace quillora::extraction
