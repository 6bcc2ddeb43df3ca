#pragma once

#include <string>
#include <vector>

namespace quillora::extraction {

/// One extracted subtitle entry; `id` is fresh for every entry made.
struct SRTSubtitle {
    std::string id;
    int index = 0;
    double startTime = 0;
    double endTime = 0;
    std::string text;

    /// "HH:MM:SS,mmm", milliseconds truncated; hours may take more than two digits.
    static std::string formatTime(double seconds);
};

/// A new entry with a fresh id.
SRTSubtitle makeSubtitle(int index, double startTime, double endTime, std::string text);

/// The SRT document of the entries in list order: blocks joined with one empty line, ending
/// with a single newline after the last text.
std::string srtText(const std::vector<SRTSubtitle>& subtitles);

}  // namespace quillora::extraction
