#pragma once

#include <functional>
#include <string>
#include <vector>

#include "extraction/srt_subtitle.h"

namespace quillora::extraction {

/// The one subtitle currently open; an empty `currentText` means none is open.
struct SubtitleState {
    std::string currentText;
    double startTime = 0;
    int startFrameIndex = 0;
    int lastSeenFrameIndex = 0;
    int consecutiveEmptyFrames = 0;
    std::string bestText;
    int bestTextFrameIndex = 0;
};

/// Turns the per-frame stream of recognised lines into closed subtitle entries.
class SubtitleTracker {
  public:
    static constexpr int frameTolerance = 2;

    /// Called with the whole list every time an entry is closed.
    std::function<void(const std::vector<SRTSubtitle>&)> onPublish;
    bool debugEnabled = true;
    std::vector<SRTSubtitle> currentSubtitles;
    SubtitleState subtitleState;

    void addSubtitle(const std::string& text, double time, int frameIndex);
    void startNewSubtitle(const std::string& text, double time, int frameIndex);
    void finalizeCurrentSubtitle(double endTime, int endFrameIndex);
    bool hasOpenSubtitle() const { return !subtitleState.currentText.empty(); }
};

}  // namespace quillora::extraction
