#include "extraction/video_processor.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <system_error>

#include "extraction/cue_text.h"
#include "extraction/frame_recognition.h"
#include "extraction/recognition_pool.h"
#include "extraction/sampling.h"
#include "extraction/text_measures.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/media/media_file.h"
#include "platform/ocr/subtitle_mask.h"
#include "platform/ocr/text_recognizer.h"
#include "text/numbers.h"

namespace quillora::extraction {

// The readings of one cue: the frames whose text pixels matched from its first frame on.
struct CueReadings {
    std::vector<std::shared_ptr<RecognitionJob>> jobs;
    // The darkest of each pixel over the frames read so far: the text stays as it is while a
    // moving picture around it darkens, so later readings see cleaner strokes.
    media::RgbImage seen;
    int lastReadFrame = 0;
    bool closed = false;  // no more readings will be added
    bool decided = false;
    std::string text;
};

namespace {

std::string fileName(const std::filesystem::path& url) {
    return url.filename().string();
}

// Frames waiting for their text, in frame order.
struct PendingFrame {
    int index = 0;
    double time = 0;
    bool toTracker = true;  // false outside the time range
    bool failed = false;    // not decoded: neither tracked nor counted in progress
    std::shared_ptr<CueReadings> cue;
};

// Recognition requests beyond this many wait for the oldest to finish, which bounds memory.
constexpr int kMaxOutstandingJobs = 6;
constexpr size_t kMaxBufferedFrames = 256;
// Pictures whose subtitle band is at least this tall (big text) are compared at half size,
// unless this many cues open within this many frames (two seconds): no subtitles change so
// fast, a busy picture fools the halved masks.
constexpr int kHalveFrom = 120;
constexpr size_t kBusyCues = 6;
constexpr int kBusyWindow = 50;
// Over such a picture only the key's strokes are compared, and loosely: picture caught in the
// key goes, but new text removes most of them.
constexpr double kBusyMissingStrokes = 0.3;
// A cue is read on up to this many frames, this far apart, where its picture changed: one
// misreading then does not last the whole cue.
constexpr size_t kReadingsPerCue = 3;
constexpr int kReadingSpacing = 8;

ocr::TextMask textMask(const media::RgbImage& image, int textScale) {
    return ocr::isolateSubtitleText(
        ocr::RgbView{image.pixels.data(), image.width, image.height, image.width * 3}, textScale);
}

// What a cue's reading sees: the text of the examined rectangle's crop that meets the region.
ocr::TextMask readingMask(const media::RgbImage& image, const ExaminedRect& examined, int band) {
    ocr::TextMask mask = textMask(image, band);
    ocr::keepLinesMeeting(mask, examined.regionTop, examined.regionBottom);
    return mask;
}

void keepDarkest(media::RgbImage& seen, const media::RgbImage& frame) {
    if (seen.width != frame.width || seen.height != frame.height) {
        seen = frame;
        return;
    }
    for (size_t i = 0; i < seen.pixels.size(); ++i)
        seen.pixels[i] = std::min(seen.pixels[i], frame.pixels[i]);
}

// Hardly any visible difference: only compression noise. A new line of text changes
// thousands of pixels, so a grid of every other pixel and row sees it.
bool nearlyIdentical(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return false;
    const size_t limit = a.size() / 3000 + 4;
    size_t different = 0;
    for (size_t i = 0; i < a.size(); ++i)
        different += std::abs(a[i] - b[i]) > 24;
    return different <= limit;
}

}  // namespace

int VideoProcessor::defaultWorkers() {
    // Subtitle text changes a few times a minute, so recognition needs far less than decoding;
    // each engine also costs a start-up, so more workers than cores only waste it.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? static_cast<int>(cores) - 1 : 1;
}

VideoProcessor::VideoProcessor() {
    tracker_.onPublish = [this](const std::vector<SRTSubtitle>& list) {
        update([&](ProcessorSnapshot& s) { s.subtitles = list; });
    };
}

VideoProcessor::~VideoProcessor() {
    batch_.request_stop();
    pause_.notify_all();
    if (batch_.joinable()) batch_.join();
}

template <typename Change>
void VideoProcessor::update(Change change) {
    std::function<void(const ProcessorSnapshot&)> observer;
    ProcessorSnapshot copy;
    {
        std::lock_guard lock(mutex_);
        change(state_);
        observer = observer_;
        if (observer) copy = state_;
    }
    if (observer) observer(copy);
}

ProcessorSnapshot VideoProcessor::snapshot() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void VideoProcessor::setObserver(std::function<void(const ProcessorSnapshot&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void VideoProcessor::setVideoObserver(std::function<void(const VideoResult&)> observer) {
    std::lock_guard lock(mutex_);
    videoObserver_ = std::move(observer);
}

void VideoProcessor::setRecognitionRegion(const RecognitionRegion& region) {
    update([&](ProcessorSnapshot& s) { s.recognitionRegion = region; });
    console("设置识别区域：x=" + shortestDecimal(region.x) + ", y=" + shortestDecimal(region.y) +
            ", width=" + shortestDecimal(region.width) +
            ", height=" + shortestDecimal(region.height));
}

RecognitionRegion VideoProcessor::recognitionRegion() const {
    std::lock_guard lock(mutex_);
    return state_.recognitionRegion;
}

void VideoProcessor::setRecognitionTimeRange(const RecognitionTimeRange& range) {
    std::lock_guard lock(mutex_);
    recognitionTimeRange_ = range;
}

RecognitionTimeRange VideoProcessor::recognitionTimeRange() const {
    std::lock_guard lock(mutex_);
    return recognitionTimeRange_;
}

void VideoProcessor::setDebugEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    debugEnabled_ = enabled;
}

void VideoProcessor::setRecognitionWorkers(int workers) {
    std::lock_guard lock(mutex_);
    workers_ = std::max(workers, 1);
}

std::vector<VideoResult> VideoProcessor::results() const {
    std::lock_guard lock(mutex_);
    return results_;
}

void VideoProcessor::processVideos(const std::vector<std::filesystem::path>& videoURLs) {
    if (videoURLs.empty()) return;
    cancel();
    waitUntilFinished();
    {
        std::lock_guard lock(mutex_);
        videoURLs_ = videoURLs;
        results_.clear();
    }
    update([&](ProcessorSnapshot& s) {
        s.processedFiles = 0;
        s.totalFiles = static_cast<int>(videoURLs.size());
    });
    running_ = true;
    batch_ = std::jthread([this](std::stop_token stop) {
        runBatch(stop);
        running_ = false;
    });
}

void VideoProcessor::setOutputFolder(std::optional<std::filesystem::path> folder) {
    std::lock_guard lock(mutex_);
    outputFolder_ = std::move(folder);
}

std::filesystem::path VideoProcessor::srtPathFor(const std::filesystem::path& videoURL) const {
    std::filesystem::path folder;
    {
        std::lock_guard lock(mutex_);
        folder = outputFolder_.value_or(videoURL.parent_path());
    }
    std::filesystem::path target = folder / videoURL.stem();
    target += ".srt";
    return target;
}

void VideoProcessor::cancel() {
    if (!batch_.joinable()) return;
    batch_.request_stop();
    pause_.notify_all();
}

void VideoProcessor::waitUntilFinished() {
    if (batch_.joinable()) batch_.join();
}

void VideoProcessor::runBatch(std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        tracker_.debugEnabled = debugEnabled_;
        merger_.debugEnabled = debugEnabled_;
    }
    while (processNextVideo(stop)) {
    }
    pool_.reset();
}

bool VideoProcessor::processNextVideo(std::stop_token stop) {
    std::filesystem::path url;
    int processed = 0;
    int total = 0;
    {
        std::lock_guard lock(mutex_);
        processed = state_.processedFiles;
        total = state_.totalFiles;
        if (processed < static_cast<int>(videoURLs_.size())) {
            url = videoURLs_[static_cast<size_t>(processed)];
        }
    }
    if (url.empty()) {
        update([](ProcessorSnapshot& s) {
            s.isProcessing = false;
            s.currentProcessingFile.clear();
            s.errorMessage.reset();
        });
        return false;
    }
    tracker_.currentSubtitles.clear();
    tracker_.subtitleState = SubtitleState{};
    update([&](ProcessorSnapshot& s) {
        s.isProcessing = true;
        s.progress = 0;
        s.subtitles.clear();
        s.errorMessage.reset();
        s.currentProcessingFile = "正在处理: " + fileName(url) + " (" +
                                  std::to_string(processed + 1) + "/" + std::to_string(total) + ")";
    });

    const auto result = extractFramesAndRecognizeText(url, stop);
    if (!result) {
        // Cancelled: nothing saved and no completion, but the screen is no longer busy.
        update([](ProcessorSnapshot& s) { s.isProcessing = false; });
        return false;
    }
    return completeCurrentVideo(*result, stop);
}

bool VideoProcessor::completeCurrentVideo(const VideoResult& result, std::stop_token stop) {
    std::function<void(const VideoResult&)> videoObserver;
    {
        std::lock_guard lock(mutex_);
        results_.push_back(result);
        videoObserver = videoObserver_;
    }
    bool more = false;
    update([&](ProcessorSnapshot& s) {
        s.processedFiles += 1;
        if (result.success) s.progress = 1.0;
        more = s.processedFiles < static_cast<int>(videoURLs_.size());
    });
    if (videoObserver) videoObserver(result);
    if (!stop.stop_requested() && more) {
        std::unique_lock lock(pauseMutex_);
        pause_.wait_for(lock, stop, std::chrono::milliseconds(500), [] { return false; });
        if (!stop.stop_requested()) return true;
    }
    update([](ProcessorSnapshot& s) {
        s.isProcessing = false;
        if (s.processedFiles == s.totalFiles) {
            s.currentProcessingFile = "处理完成: " + std::to_string(s.processedFiles) + "/" +
                                      std::to_string(s.totalFiles) + " 个文件";
        }
    });
    return false;
}

std::optional<VideoResult> VideoProcessor::extractFramesAndRecognizeText(
    const std::filesystem::path& url, std::stop_token stop) {
    if (stop.stop_requested()) return std::nullopt;
    VideoResult result;
    result.video = url;
    const std::string name = fileName(url);
    auto fail = [&](const std::string& message) {
        update([&](ProcessorSnapshot& s) { s.errorMessage = message; });
        result.success = false;
        result.errorMessage = message;
        return result;
    };
    const RecognitionTimeRange range = recognitionTimeRange();

    double duration = 0;
    bool hasVideo = false;
    try {
        std::error_code error;
        const auto size = std::filesystem::file_size(url, error);
        if (!error && size == 0) {
            duration = 0;  // nothing to open: a zero-length file lasts no time
        } else {
            media::MediaFile asset(url);
            duration = asset.durationSeconds();
            hasVideo = asset.hasTrack(media::TrackKind::video);
        }
    } catch (const media::MediaError& error) {
        return fail("处理视频失败: " + error.description() + " - " + name);
    }
    if (!(duration > 0)) return fail("无法读取视频时长: " + name);
    if (duration < range.lower) {
        return fail("视频时长(" + fixed(duration, 1) + "秒)短于最小识别时间(" +
                    shortestDecimal(range.lower) + "秒)");
    }
    if (!hasVideo) return fail("无法读取视频轨道: " + name);

    const int totalFrames = sampledFrameAt(duration);
    console("开始处理视频: " + name);
    console("时长: " + shortestDecimal(duration) + "秒，总帧数: " + std::to_string(totalFrames));
    console("识别时间范围: " + shortestDecimal(range.lower) + " - " + shortestDecimal(range.upper) +
            "秒");
    const int firstFrame = sampledFrameAt(range.lower);
    const int endFrame = std::min(totalFrames, sampledFrameAt(range.upper));
    console("实际处理帧范围: " + std::to_string(firstFrame) + " - " + std::to_string(endFrame) +
            "，共" + std::to_string(endFrame - firstFrame) + "帧");

    int closeFrame = endFrame;
    try {
        closeFrame =
            std::min(endFrame, sampleFrames(url, firstFrame, endFrame, totalFrames, stop, result));
    } catch (const media::MediaError& error) {
        return fail("处理视频失败: " + error.description() + " - " + name);
    } catch (const ocr::OcrError& error) {
        return fail("处理视频失败: " + error.description() + " - " + name);
    }
    if (stop.stop_requested()) return std::nullopt;

    // A video whose data ends early closes its last subtitle where the pictures end.
    if (tracker_.hasOpenSubtitle()) {
        tracker_.finalizeCurrentSubtitle(sampledFrameTime(closeFrame), closeFrame);
    }
    tracker_.currentSubtitles = merger_.postProcessSubtitles(tracker_.currentSubtitles);
    update([&](ProcessorSnapshot& s) { s.subtitles = tracker_.currentSubtitles; });

    const SaveResult saved = autoSaveSRTFile(url);
    if (saved.success) {
        console("✅ 视频处理完成: " + name);
        console("   有效字幕块数: " + std::to_string(tracker_.currentSubtitles.size()));
        console("   字幕已保存到: " + saved.filePath.value_or(""));
    } else {
        console("❌ 保存失败: " + saved.error.value_or("未知错误"));
    }
    result.success = saved.success;
    result.filePath = saved.filePath;
    if (!saved.success) result.errorMessage = saved.error;
    result.subtitleCount = tracker_.currentSubtitles.size();
    return result;
}

// What the sampling loop remembers between frames.
struct VideoProcessor::SamplingState {
    // The cue on screen and the text mask of its first reading. No cue: the last examined
    // frame had no text.
    ocr::TextMask keyMask;
    ocr::TextStillShown keyShown;  // the cheap check against the key, on the same crops
    std::shared_ptr<CueReadings> keyCue;
    // The last frame whose text pixels were examined: its brightness sample and its cue.
    std::vector<uint8_t> lastSample;
    std::shared_ptr<CueReadings> lastCue;
    bool haveLastSample = false;

    std::deque<PendingFrame> pending;
    std::deque<int> recentlyOpened;  // frames where a cue opened, the last kBusyWindow
    bool compareWhole = false;
};

std::shared_ptr<RecognitionJob> VideoProcessor::submitReading(const ocr::TextMask& mask,
                                                              VideoResult& result) {
    auto job = std::make_shared<RecognitionJob>();
    job->lines = ocr::renderLinesForRecognition(mask);
    pool_->submit(job);
    ++result.recognitionCalls;
    return job;
}

// A cue is read again on a frame far enough from its last reading, until it has its readings.
// A third reading waits for the first two: when they agree it could only join them.
bool VideoProcessor::wantsAnotherView(CueReadings& cue, int frameIndex) {
    if (cue.closed || frameIndex - cue.lastReadFrame < kReadingSpacing) return false;
    if (cue.jobs.size() >= 2) {
        const RecognitionJob& a = *cue.jobs[0];
        const RecognitionJob& b = *cue.jobs[1];
        if (!pool_->isDone(a) || !pool_->isDone(b)) return false;
        if (!a.text.empty() && a.text == b.text) {
            cue.closed = true;
            return false;
        }
    }
    return true;
}

std::shared_ptr<CueReadings> VideoProcessor::recognitionFor(media::VideoFrameReader& reader,
                                                            const ExaminedRect& examined,
                                                            int frameIndex, SamplingState& state,
                                                            VideoResult& result) {
    // Frames are compared inside the region itself; readings see the examined rectangle around
    // it, so that a line its edge cuts through is read whole.
    const media::PixelRect rect = examined.region;
    std::vector<uint8_t> sample = reader.brightnessSample(rect);
    if (state.haveLastSample && !sample.empty() && nearlyIdentical(sample, state.lastSample)) {
        // The picture under the region did not change: nor did its text.
        return state.lastCue;
    }
    auto settle = [&] {
        state.lastCue = state.keyCue;
        state.lastSample = std::move(sample);
        state.haveLastSample = true;
        return state.lastCue;
    };
    // Big text is compared at half size, a quarter of the work on every frame; the full-size
    // crop and mask are made only for the frames that go to recognition. Halving blurs a thin
    // outline, though, and over a busy picture the text then merges with it: cues opening
    // faster than subtitles ever change say so, and the rest of the video is compared whole.
    const int band = subtitleBand(reader.height());
    const bool halve = band >= kHalveFrom && !state.compareWhole;
    media::RgbImage crop = reader.crop(rect, halve);
    const ocr::RgbView view{crop.pixels.data(), crop.width, crop.height, crop.width * 3};
    if (state.keyCue) {
        // Most frames of a cue show its text unchanged over a moving picture; when the cue
        // wants no other view now, the cheap check spares isolating the text again.
        if (!wantsAnotherView(*state.keyCue, frameIndex) && state.keyShown.holds(view)) {
            return settle();
        }
    }
    ocr::TextMask probe;
    if (!crop.empty()) probe = textMask(crop, halve ? band / 2 : band);
    // Over a busy picture a line of picture above the text would be read with it: there the
    // region alone is read.
    const ExaminedRect read =
        state.compareWhole ? ExaminedRect{rect, rect, 0, rect.height} : examined;
    auto fullCrop = [&] { return reader.crop(read.rect); };
    auto closeKey = [&] {
        if (state.keyCue) state.keyCue->closed = true;
        state.keyCue.reset();
    };
    if (probe.empty()) {
        closeKey();
    } else if (state.keyCue &&
               (state.compareWhole
                    ? ocr::keyStrokesRemain(state.keyMask, probe, kBusyMissingStrokes)
                    : ocr::masksShowSameText(state.keyMask, probe))) {
        // The same text over a changed picture: another view of it, while the cue wants one.
        CueReadings& cue = *state.keyCue;
        if (wantsAnotherView(cue, frameIndex)) {
            keepDarkest(cue.seen, fullCrop());
            ocr::TextMask full = readingMask(cue.seen, read, band);
            if (!full.empty()) {
                cue.jobs.push_back(submitReading(full, result));
                cue.lastReadFrame = frameIndex;
                cue.closed = cue.jobs.size() >= kReadingsPerCue;
            }
        }
    } else if (const ocr::Fade fade =
                   state.keyCue ? ocr::fadeBetween(state.keyMask, probe) : ocr::Fade::none;
               fade != ocr::Fade::none) {
        // The cue's text fading in or out: the same cue. Fading in, more of it shows and
        // brighter, so a new reading replaces those of the fainter frames before it; fading
        // out, what is left is read no more.
        CueReadings& cue = *state.keyCue;
        if (fade == ocr::Fade::in && !cue.decided) {
            cue.seen = fullCrop();
            ocr::TextMask full = readingMask(cue.seen, read, band);
            if (!full.empty()) {
                cue.jobs = {submitReading(full, result)};
                cue.lastReadFrame = frameIndex;
                cue.closed = false;
            }
            state.keyShown = ocr::TextStillShown(probe, view);
            state.keyMask = std::move(probe);
        }
    } else {
        closeKey();
        media::RgbImage seen = fullCrop();
        ocr::TextMask full = readingMask(seen, read, band);
        if (!full.empty()) {
            auto& opened = state.recentlyOpened;
            opened.push_back(frameIndex);
            while (opened.front() < frameIndex - kBusyWindow)
                opened.pop_front();
            if (halve && opened.size() >= kBusyCues) {
                state.compareWhole = true;
                console("画面背景繁杂（帧" + std::to_string(frameIndex) + "），改为整幅比较");
            }
            auto cue = std::make_shared<CueReadings>();
            cue->seen = std::move(seen);
            cue->jobs.push_back(submitReading(full, result));
            cue->lastReadFrame = frameIndex;
            state.keyCue = std::move(cue);
            state.keyShown = ocr::TextStillShown(probe, view);
            state.keyMask = std::move(probe);
        }
    }
    return settle();
}

void VideoProcessor::deliverFrames(SamplingState& state, bool drainAll, int totalFrames) {
    auto& pending = state.pending;
    while (!pending.empty()) {
        PendingFrame& front = pending.front();
        std::string text;
        if (front.cue) {
            CueReadings& cue = *front.cue;
            if (!cue.decided) {
                const bool mustWait = drainAll || pending.size() > kMaxBufferedFrames ||
                                      pool_->outstanding() > kMaxOutstandingJobs;
                if (!cue.closed && !mustWait) return;
                cue.closed = true;
                std::vector<const RecognitionJob*> readings;
                for (const auto& job : cue.jobs) {
                    if (!pool_->isDone(*job)) {
                        if (!mustWait) return;
                        pool_->wait(*job);
                    }
                    readings.push_back(job.get());
                }
                cue.text = combineReadings(readings);
                cue.decided = true;
            }
            text = cue.text;
        }
        if (!front.failed) {
            if (front.toTracker) addSubtitle(text, front.time, front.index);
            setProgress((front.index + 1) / static_cast<double>(totalFrames));
        }
        pending.pop_front();
    }
}

int VideoProcessor::sampleFrames(const std::filesystem::path& url, int firstFrame, int endFrame,
                                 int totalFrames, std::stop_token stop, VideoResult& result) {
    if (endFrame <= firstFrame) return endFrame;
    const RecognitionTimeRange range = recognitionTimeRange();
    media::VideoFrameReader reader(url);
    reader.startAt(sampledFrameTime(firstFrame));
    const ExaminedRect examined = examinedRect(
        cropRect(recognitionRegion(), reader.width(), reader.height()), reader.height());
    if (!pool_) {
        int workers = 1;
        {
            std::lock_guard lock(mutex_);
            workers = workers_;
        }
        pool_ = std::make_unique<RecognitionPool>(workers);
    }

    SamplingState state;
    int lastDecoded = firstFrame - 1;
    for (int i = firstFrame; i < endFrame; ++i) {
        if (stop.stop_requested()) break;
        PendingFrame frame;
        frame.index = i;
        const double t = sampledFrameTime(i);
        frame.time = t;
        if (t < range.lower || t > range.upper) {
            frame.toTracker = false;
        } else if (!reader.advanceTo(t)) {
            console("处理帧 " + std::to_string(i) + " 失败: 无法解码视频帧");
            frame.failed = true;
        } else {
            ++result.framesSampled;
            lastDecoded = i;
            const double actual = reader.frameTime();
            frame.time = std::isfinite(actual) && actual > 0 ? actual : t;
            frame.cue = recognitionFor(reader, examined, i, state, result);
        }
        state.pending.push_back(std::move(frame));
        deliverFrames(state, false, totalFrames);
    }
    if (stop.stop_requested()) return endFrame;
    deliverFrames(state, true, totalFrames);
    return lastDecoded + 1;
}

void VideoProcessor::addSubtitle(const std::string& text, double time, int frameIndex) {
    tracker_.addSubtitle(text, time, frameIndex);
}

void VideoProcessor::setProgress(double value) {
    std::function<void(const ProcessorSnapshot&)> observer;
    ProcessorSnapshot copy;
    {
        std::lock_guard lock(mutex_);
        // Observers hear of progress in steps of a tenth of a percent; the snapshot is exact.
        const bool notify =
            std::floor(value * 1000) != std::floor(state_.progress * 1000) || value >= 1.0;
        state_.progress = value;
        if (!notify || !observer_) return;
        observer = observer_;
        copy = state_;
    }
    observer(copy);
}

SaveResult VideoProcessor::autoSaveSRTFile(const std::filesystem::path& videoURL) const {
    const auto& list = tracker_.currentSubtitles;
    if (list.empty()) return {false, std::nullopt, "没有可保存的字幕内容"};
    const std::filesystem::path target = srtPathFor(videoURL);
    try {
        writeFileAtomically(target, srtText(list));
    } catch (const std::exception& error) {
        return {false, std::nullopt, std::string("保存文件失败: ") + error.what()};
    }
    return {true, target.string(), std::nullopt};
}

std::optional<std::filesystem::path> VideoProcessor::saveSRTFile(
    const std::function<std::optional<std::filesystem::path>()>& chooseFile) {
    std::vector<SRTSubtitle> list;
    {
        std::lock_guard lock(mutex_);
        list = state_.subtitles;
    }
    if (list.empty()) {
        update([](ProcessorSnapshot& s) { s.errorMessage = "没有可保存的字幕内容"; });
        return std::nullopt;
    }
    const auto target = chooseFile ? chooseFile() : std::nullopt;
    if (!target) return std::nullopt;
    try {
        writeFileAtomically(*target, srtText(list));
    } catch (const std::exception& error) {
        const std::string message = std::string("保存文件失败: ") + error.what();
        update([&](ProcessorSnapshot& s) { s.errorMessage = message; });
        return std::nullopt;
    }
    return target;
}

void VideoProcessor::clearResults() {
    update([](ProcessorSnapshot& s) {
        s.isProcessing = false;
        s.subtitles.clear();
        s.progress = 0;
        s.errorMessage.reset();
        s.currentProcessingFile.clear();
        s.totalFiles = 0;
        s.processedFiles = 0;
    });
    if (!batch_.joinable()) tracker_.currentSubtitles.clear();
}

}  // namespace quillora::extraction
