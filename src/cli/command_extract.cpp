// `extract`: burned-in subtitles of videos to SRT files beside them.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "extraction/video_processor.h"
#include "platform/console.h"
#include "platform/files.h"

namespace quillora::cli {
namespace {

namespace fs = std::filesystem;

struct ExtractOptions {
    std::vector<std::string> videos;
    std::string region;
    std::string outputDir;
    double from = 0.0;
    double to = 930.0;
    Overwrite overwrite = Overwrite::ask;
    bool verbose = false;
    bool quiet = false;  // the old way to ask for what is now the default
};

extraction::RecognitionRegion parseRegion(const std::string& text) {
    extraction::RecognitionRegion region;
    if (text.empty()) return region;
    std::vector<double> values;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ',')) {
        try {
            size_t used = 0;
            values.push_back(std::stod(part, &used));
            if (used != part.size()) values.clear();
        } catch (const std::exception&) {
            values.clear();
            break;
        }
    }
    if (values.size() != 4 || std::any_of(values.begin(), values.end(), [](double v) {
            return !std::isfinite(v) || v < 0 || v > 1;
        })) {
        throw CLI::ValidationError("--region", "expects x,y,width,height as fractions from 0 to 1");
    }
    return {values[0], values[1], values[2], values[3]};
}

// Progress on stderr: one redrawn bar on a terminal, plain lines in steps of 10 % otherwise.
class ProgressDisplay {
  public:
    explicit ProgressDisplay(bool terminal) : terminal_(terminal) {}

    void show(const extraction::ProcessorSnapshot& s) {
        std::lock_guard lock(mutex_);
        label_ = s.currentProcessingFile;
        const int percent = static_cast<int>(s.progress * 100);
        if (terminal_) {
            if (s.isProcessing && (percent != percent_ || label_ != shownLabel_)) draw(s.progress);
        } else if (s.isProcessing && (percent / 10 != percent_ / 10 || label_ != shownLabel_)) {
            std::fprintf(stderr, "%s %d%%\n", label_.c_str(), percent / 10 * 10);
        }
        percent_ = percent;
        shownLabel_ = label_;
        progress_ = s.progress;
    }

    void line(std::string_view text) {
        std::lock_guard lock(mutex_);
        if (terminal_ && drawn_) std::fputs("\r\033[K", stderr);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fputc('\n', stderr);
        if (terminal_ && drawn_) draw(progress_);
    }

    void finish() {
        std::lock_guard lock(mutex_);
        if (terminal_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

  private:
    void draw(double progress) {
        constexpr int kWidth = 30;
        const int filled = std::clamp(static_cast<int>(progress * kWidth), 0, kWidth);
        std::fprintf(stderr, "\r\033[K[%s%s] %3d%% %s", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, ' ').c_str(), static_cast<int>(progress * 100),
                     label_.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    bool terminal_;
    std::mutex mutex_;
    std::string label_;
    std::string shownLabel_;
    int percent_ = -1;
    double progress_ = 0;
    bool drawn_ = false;
};

// The videos worth starting: each must exist and its SRT must be writable (and may replace an
// existing one only as -y/-n or the user allow), so no minutes are spent on a result that could
// not be saved. Refusals are reported one per line; the count comes back in `refused`.
std::vector<fs::path> videosToProcess(const ExtractOptions& options,
                                      const extraction::VideoProcessor& processor,
                                      size_t& refused) {
    std::vector<fs::path> accepted;
    for (const std::string& name : options.videos) {
        const fs::path video(name);
        try {
            std::error_code ec;
            if (!fs::is_regular_file(video, ec)) {
                throw CommandFailure{(fs::exists(video, ec) ? "不是视频文件: " : "没有这个文件: ") +
                                     video.string()};
            }
            const fs::path target = processor.srtPathFor(video);
            try {
                checkCanWrite(target);
            } catch (const FileError& error) {
                throw CommandFailure{"无法写入 " + target.string() + ": " + error.code().message()};
            }
            claimOutput(target, options.overwrite);
            accepted.push_back(video);
        } catch (const CommandFailure& failure) {
            std::cerr << "quillora-cli: " << failure.what() << std::endl;
            ++refused;
        }
    }
    return accepted;
}

void runExtract(const ExtractOptions& options) {
    const auto region = parseRegion(options.region);
    if (!options.outputDir.empty()) {
        std::error_code ec;
        if (!fs::is_directory(options.outputDir, ec)) {
            throw CommandFailure{"输出文件夹不存在: " + options.outputDir};
        }
    }
    ProgressDisplay display(isatty(STDERR_FILENO) == 1);
    const ScopedConsoleSink route([&](std::string_view text) {
        if (options.verbose) display.line(text);
    });

    extraction::VideoProcessor processor;
    if (!options.outputDir.empty()) processor.setOutputFolder(fs::path(options.outputDir));
    size_t refused = 0;
    const std::vector<fs::path> videos = videosToProcess(options, processor, refused);
    if (videos.empty()) throw FailuresReported{};

    processor.setDebugEnabled(options.verbose);
    processor.setRecognitionTimeRange({options.from, options.to});
    if (!options.region.empty()) processor.setRecognitionRegion(region);
    processor.setObserver([&](const extraction::ProcessorSnapshot& s) { display.show(s); });
    processor.setVideoObserver([&](const extraction::VideoResult& result) {
        display.finish();
        const std::string name = result.video.filename().string();
        if (result.success) {
            std::cout << "✅ " << name << ": " << result.subtitleCount << " 条字幕 → "
                      << result.filePath.value_or("") << " (识别 " << result.recognitionCalls
                      << " 次 / 采样 " << result.framesSampled << " 帧)" << std::endl;
        } else {
            std::cerr << "❌ " << name << ": " << result.errorMessage.value_or("未知错误")
                      << std::endl;
        }
    });
    // Ctrl-C stops the running video: nothing of it is saved, earlier files stay as they were.
    InterruptGuard guard;
    processor.processVideos(videos);
    while (processor.isRunning() && !InterruptGuard::interrupted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (InterruptGuard::interrupted()) processor.cancel();
    processor.waitUntilFinished();
    display.finish();
    if (InterruptGuard::interrupted()) throw CommandFailure{"已取消"};

    const auto results = processor.results();
    const auto failed =
        std::count_if(results.begin(), results.end(), [](const auto& r) { return !r.success; });
    if (failed > 0 || refused > 0) {
        throw CommandFailure{std::to_string(static_cast<size_t>(failed) + refused) +
                             " 个视频未能提取字幕"};
    }
}

const CommandRegistration registration([](CLI::App& app) {
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* command =
        app.add_subcommand("extract", "Extract burned-in subtitles of videos into NAME.srt files");
    command->add_option("videos", options->videos, "Video files")->required();
    command->add_option("-o,--output-dir", options->outputDir,
                        "write the SRT files into this folder instead of beside the videos");
    addOverwriteOptions(command, options->overwrite);
    command->add_option("--region", options->region,
                        "Recognition region x,y,width,height as fractions (default 0,0.8,1,0.2)");
    command->add_option("--from", options->from, "Start of the examined part, seconds")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--to", options->to, "End of the examined part, seconds")
        ->check(CLI::NonNegativeNumber);
    command->add_flag("-v,--verbose", options->verbose,
                      "show the recognition's diagnostic lines on stderr");
    command->add_flag("--quiet", options->quiet)->group("");
    addExample(command, "quillora-cli extract ep01.mp4 ep02.mp4 --region 0,0.8,1,0.2 -o srt/");
    command->callback([options] { runExtract(*options); });
});

}  // namespace
}  // namespace quillora::cli
