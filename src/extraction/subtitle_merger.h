#pragma once

#include <optional>
#include <string>
#include <vector>

#include "extraction/srt_subtitle.h"

namespace quillora::extraction {

/// The clean-up pass after tracking: snap to the frame grid, merge near-duplicates that follow
/// each other within one second, then fix durations and overlaps and renumber.
class SubtitleMerger {
  public:
    bool debugEnabled = true;

    /// The whole pass; an empty list is returned as it is.
    std::vector<SRTSubtitle> postProcessSubtitles(const std::vector<SRTSubtitle>& list) const;

    std::vector<SRTSubtitle> basicFrameProcessing(const std::vector<SRTSubtitle>& list) const;
    std::vector<SRTSubtitle> mergeSimilarSubtitlesInOneSecond(
        const std::vector<SRTSubtitle>& list) const;
    std::optional<SRTSubtitle> mergeSubtitleGroup(const std::vector<SRTSubtitle>& group) const;
    std::string selectBestTextForMerge(const std::vector<SRTSubtitle>& group) const;
    std::string mergeTextContents(const std::vector<SRTSubtitle>& group) const;
    bool areAllTextsSimilar(const std::vector<SRTSubtitle>& group) const;
    bool areTextsSimilarForMerge(const std::string& a, const std::string& b) const;
    std::vector<SRTSubtitle> finalizeTimeline(const std::vector<SRTSubtitle>& list) const;
};

}  // namespace quillora::extraction
