#include "extraction/srt_subtitle.h"

#include <cmath>
#include <cstdio>

#include "platform/uuid.h"

namespace quillora::extraction {

std::string SRTSubtitle::formatTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    // Counting whole milliseconds (with a margin far below one millisecond) keeps times such
    // as 29 / 25.0 = 1.16 from printing as 1,159 through binary rounding, while still
    // truncating real fractions (3725.9999 s stays at ,999).
    const auto totalMs = static_cast<long long>(std::floor(seconds * 1000.0 + 1e-6));
    const long long whole = totalMs / 1000;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld,%03lld", whole / 3600,
                  (whole / 60) % 60, whole % 60, totalMs % 1000);
    return buffer;
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
