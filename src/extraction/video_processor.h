#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "extraction/sampling.h"
#include "extraction/srt_subtitle.h"
#include "extraction/subtitle_merger.h"
#include "extraction/subtitle_tracker.h"
#include "platform/media/media_file.h"
#include "platform/ocr/text_recognizer.h"

namespace quillora::extraction {

struct ExaminedRect;

class RecognitionPool;
struct RecognitionJob;
struct CueReadings;

/// Normalised crop rectangle: fractions of the frame, origin top-left, y downwards.
struct RecognitionRegion {
    double x = 0.0;
    double y = 0.8;
    double width = 1.0;
    double height = 0.2;
};

/// The part of each video that is examined, in seconds.
struct RecognitionTimeRange {
    double lower = 0.0;
    double upper = 930.0;
};

/// What a screen shows; every change is announced to the observer with a fresh copy.
struct ProcessorSnapshot {
    bool isProcessing = false;
    double progress = 0;
    std::vector<SRTSubtitle> subtitles;
    std::optional<std::string> errorMessage;
    std::string currentProcessingFile;
    int totalFiles = 0;
    int processedFiles = 0;
    RecognitionRegion recognitionRegion;
};

/// The outcome of one video of a batch.
struct VideoResult {
    std::filesystem::path video;
    bool success = false;
    std::optional<std::string> filePath;      // the SRT written beside the video
    std::optional<std::string> errorMessage;  // why the video failed
    size_t subtitleCount = 0;
    int framesSampled = 0;
    int recognitionCalls = 0;
};

struct SaveResult {
    bool success = false;
    std::optional<std::string> filePath;
    std::optional<std::string> error;
};

/// Extracts burned-in subtitles from a batch of videos, one after the other, writing each
/// result as an SRT file beside its video. The batch runs on a thread of its own; frames are
/// decoded in order on it and recognised on a small pool, and a frame whose text pixels did not
/// change since the last recognised one reuses that text.
class VideoProcessor {
  public:
    static constexpr int frameTolerance = SubtitleTracker::frameTolerance;
    static constexpr double frameDuration = 1 / kSamplingRate;

    VideoProcessor();
    /// Stops a running batch (nothing more is saved) and waits for it.
    ~VideoProcessor();
    VideoProcessor(const VideoProcessor&) = delete;
    VideoProcessor& operator=(const VideoProcessor&) = delete;

    ProcessorSnapshot snapshot() const;
    /// Called on the batch thread after every change of the snapshot.
    void setObserver(std::function<void(const ProcessorSnapshot&)> observer);
    /// Called on the batch thread when a video is finished (not when cancelled).
    void setVideoObserver(std::function<void(const VideoResult&)> observer);

    void setRecognitionRegion(const RecognitionRegion& region);
    RecognitionRegion recognitionRegion() const;
    void setRecognitionTimeRange(const RecognitionTimeRange& range);
    RecognitionTimeRange recognitionTimeRange() const;
    void setDebugEnabled(bool enabled);
    /// Recognition threads of the next batch (default: one fewer than the cores, at least one;
    /// decoding has a core of its own).
    void setRecognitionWorkers(int workers);

    /// Starts a batch; an empty list does nothing. A running batch is cancelled first, so this
    /// must not be called from an observer (it waits for the batch thread).
    void processVideos(const std::vector<std::filesystem::path>& videoURLs);
    /// Stops the running video where it is; nothing of it is saved and the batch ends.
    void cancel();
    /// Blocks until the batch thread has ended.
    void waitUntilFinished();
    /// True while a batch is running (false once its last video is done or it was cancelled).
    bool isRunning() const { return running_; }

    /// Where the batch writes each NAME.srt: beside its video (no folder, the default) or in
    /// `folder`. Set it before processVideos.
    void setOutputFolder(std::optional<std::filesystem::path> folder);
    std::filesystem::path srtPathFor(const std::filesystem::path& videoURL) const;

    /// Writes the current video's subtitles to srtPathFor(videoURL). The batch calls it
    /// after each video; others may call it only while no batch runs.
    SaveResult autoSaveSRTFile(const std::filesystem::path& videoURL) const;
    /// Writes the shown subtitles to the file `chooseFile` returns (none: the user cancelled).
    /// With nothing to save it sets the error text and never asks for a file.
    std::optional<std::filesystem::path> saveSRTFile(
        const std::function<std::optional<std::filesystem::path>()>& chooseFile);
    void clearResults();

    std::vector<VideoResult> results() const;

  private:
    void runBatch(std::stop_token stop);
    /// Starts the next video or ends the batch; true while the batch goes on.
    bool processNextVideo(std::stop_token stop);
    /// Counts a finished video and pauses before the next; true while the batch goes on.
    bool completeCurrentVideo(const VideoResult& result, std::stop_token stop);
    /// Runs one video; nullopt when it was cancelled.
    std::optional<VideoResult> extractFramesAndRecognizeText(const std::filesystem::path& url,
                                                             std::stop_token stop);
    struct SamplingState;
    /// Samples frames firstFrame..endFrame-1 into the tracker; returns the frame after the last
    /// one that could be decoded (endFrame unless the video's data ends early).
    int sampleFrames(const std::filesystem::path& url, int firstFrame, int endFrame,
                     int totalFrames, std::stop_token stop, VideoResult& result);
    /// The cue whose text the reader's current frame shows: the previous frame's when the
    /// region did not change or its text pixels still show the same text (read again now and
    /// then), a new one when they do not, none when the region holds no text.
    std::shared_ptr<CueReadings> recognitionFor(media::VideoFrameReader& reader,
                                                const ExaminedRect& examined, int frameIndex,
                                                SamplingState& state, VideoResult& result);
    std::shared_ptr<RecognitionJob> submitReading(const ocr::TextMask& mask, VideoResult& result);
    bool wantsAnotherView(CueReadings& cue, int frameIndex);
    /// Hands finished frames to the tracker in frame order; with `drainAll`, waits for all.
    void deliverFrames(SamplingState& state, bool drainAll, int totalFrames);
    void addSubtitle(const std::string& text, double time, int frameIndex);
    void setProgress(double value);
    template <typename Change>
    void update(Change change);

    mutable std::mutex mutex_;
    ProcessorSnapshot state_;
    RecognitionTimeRange recognitionTimeRange_;
    bool debugEnabled_ = true;
    std::optional<std::filesystem::path> outputFolder_;
    std::atomic<bool> running_{false};
    int workers_ = defaultWorkers();
    static int defaultWorkers();
    std::function<void(const ProcessorSnapshot&)> observer_;
    std::function<void(const VideoResult&)> videoObserver_;
    std::vector<std::filesystem::path> videoURLs_;
    std::vector<VideoResult> results_;

    // Owned by the batch thread while it runs.
    SubtitleTracker tracker_;
    SubtitleMerger merger_;
    std::unique_ptr<RecognitionPool> pool_;

    std::mutex pauseMutex_;
    std::condition_variable_any pause_;
    std::jthread batch_;
};

}  // namespace quillora::extraction
