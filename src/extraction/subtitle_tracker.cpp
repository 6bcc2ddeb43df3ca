#include "extraction/subtitle_tracker.h"
#include "extraction/sampling.h"

#include "extraction/text_measures.h"
#include "platform/console.h"

namespace quillora::extraction {
namespace {

constexpr int kPartialFrames = 2;

}  // namespace

void SubtitleTracker::addSubtitle(const std::string& text, double time, int frameIndex) {
    const std::string cleaned = cleanRecognizedText(text);
    const bool empty = cleaned.empty() || isNoiseText(cleaned);
    auto& state = subtitleState;
    if (state.currentText.empty()) {
        if (!empty) startNewSubtitle(cleaned, time, frameIndex);
        return;
    }
    if (empty) {
        state.consecutiveEmptyFrames += 1;
        if (state.consecutiveEmptyFrames >= frameTolerance) {
            finalizeCurrentSubtitle(sampledFrameTime(state.lastSeenFrameIndex),
                                    state.lastSeenFrameIndex);
        }
        return;
    }
    if (areTextsSimilar(cleaned, state.currentText)) {
        state.lastSeenFrameIndex = frameIndex;
        state.consecutiveEmptyFrames = 0;
        bool replace = false;
        if (characterCount(cleaned) > characterCount(state.bestText)) {
            replace = true;
        } else if (countIdeographs(cleaned) > countIdeographs(state.bestText)) {
            replace = true;
        } else if (calculateTextQuality(cleaned) > calculateTextQuality(state.bestText)) {
            replace = true;
        }
        if (replace) {
            state.bestText = cleaned;
            state.bestTextFrameIndex = frameIndex;
        }
        return;
    }
    // A fade's first legible frame may show only part of the line: the whole line read a frame
    // or two later continues that subtitle rather than opening another.
    if (frameIndex - state.startFrameIndex <= kPartialFrames &&
        cleaned.size() > state.currentText.size() &&
        cleaned.find(state.currentText) != std::string::npos) {
        state.currentText = state.bestText = cleaned;
        state.bestTextFrameIndex = state.lastSeenFrameIndex = frameIndex;
        state.consecutiveEmptyFrames = 0;
        return;
    }
    finalizeCurrentSubtitle(sampledFrameTime(frameIndex - 1), frameIndex - 1);
    startNewSubtitle(cleaned, time, frameIndex);
}

void SubtitleTracker::startNewSubtitle(const std::string& text, double time, int frameIndex) {
    subtitleState = SubtitleState{text, time, frameIndex, frameIndex, 0, text, frameIndex};
    if (debugEnabled) {
        console("🎬 开始新字幕 [帧" + std::to_string(frameIndex) + "]: '" + text +
                "' 时间: " + fixed(time, 3) + "s");
    }
}

void SubtitleTracker::finalizeCurrentSubtitle(double endTime, int endFrameIndex) {
    if (subtitleState.currentText.empty()) return;
    const auto& state = subtitleState;
    const int frameCount = endFrameIndex - state.startFrameIndex + 1;
    double end = endTime;
    if (frameCount < 2) {
        end = state.startTime + 0.08;
    } else if (frameCount > 200) {
        end = state.startTime + 8.0;
    }
    auto entry = makeSubtitle(static_cast<int>(currentSubtitles.size()) + 1, state.startTime, end,
                              state.bestText);
    currentSubtitles.push_back(entry);
    if (onPublish) onPublish(currentSubtitles);
    if (debugEnabled) {
        console("✅ 完成字幕 #" + std::to_string(entry.index) + ": '" + state.bestText + "'");
        console("   📊 帧范围: " + std::to_string(state.startFrameIndex) + "-" +
                std::to_string(endFrameIndex) + " (" + std::to_string(frameCount) + "帧)");
        console("   ⏱️ 时间: " + fixed(entry.startTime, 3) + "s → " + fixed(end, 3) + "s");
        console("   🎞️ 持续时间: " + fixed(end - entry.startTime, 3) + "s");
    }
    subtitleState = SubtitleState{};
}

}  // namespace quillora::extraction
