// `convert` (media to M4A/WAV, text to DOC, two at a time) and `encoding` (what a text file is
// written in, and its UTF-8 copy).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "conversion/file_converter.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quillora::cli {
namespace {

namespace fs = std::filesystem;
namespace status = conversion_status;

// Progress on stderr: on a terminal one redrawn bar per converting file below the finished
// lines, otherwise plain lines in steps of 10 %.
class BatchDisplay {
  public:
    explicit BatchDisplay(bool terminal) : terminal_(terminal) {}

    void update(const std::vector<MediaFile>& files) {
        std::lock_guard lock(mutex_);
        std::vector<std::pair<std::string, double>> bars;
        for (const MediaFile& file : files) {
            const std::string name = file.originalURL.filename().string();
            if (file.status == status::kConverting) {
                bars.emplace_back(name, file.progress);
                const int step = static_cast<int>(file.progress * 10);
                if (!terminal_ && step > steps_[file.id] && step < 10) {
                    std::fprintf(stderr, "%s %d%%\n", name.c_str(), step * 10);
                }
                steps_[file.id] = std::max(steps_[file.id], step);
            } else if (file.status != status::kWaiting && !reported_.count(file.id)) {
                reported_.insert({file.id, true});
                clearBars();
                report(file, name);
            }
        }
        if (terminal_) drawBars(bars);
    }

    void finish() {
        std::lock_guard lock(mutex_);
        clearBars();
    }

  private:
    void report(const MediaFile& file, const std::string& name) {
        if (file.status == status::kCompleted) {
            std::fprintf(stdout, "✅ %s → %s\n", name.c_str(),
                         file.finalOutputURL.value_or("").c_str());
            std::fflush(stdout);
        } else {
            std::fprintf(stderr, "❌ %s: %s\n", name.c_str(),
                         file.status == status::kCancelled
                             ? status::kCancelled
                             : file.errorMessage.value_or("未知错误").c_str());
        }
    }

    void clearBars() {
        if (!terminal_) return;
        for (int i = 0; i < drawn_; ++i)
            std::fputs("\033[1A\r\033[K", stderr);
        drawn_ = 0;
    }

    void drawBars(const std::vector<std::pair<std::string, double>>& bars) {
        clearBars();
        constexpr int kWidth = 30;
        for (const auto& [name, progress] : bars) {
            const int filled = std::clamp(static_cast<int>(progress * kWidth), 0, kWidth);
            std::fprintf(stderr, "[%s%s] %3d%% %s\n", std::string(filled, '#').c_str(),
                         std::string(kWidth - filled, ' ').c_str(),
                         static_cast<int>(progress * 100), name.c_str());
        }
        drawn_ = static_cast<int>(bars.size());
        std::fflush(stderr);
    }

    bool terminal_;
    std::mutex mutex_;
    std::map<std::string, int> steps_;
    std::map<std::string, bool> reported_;
    int drawn_ = 0;
};

struct ConvertOptions {
    std::vector<std::string> files;
    std::string format;
    Overwrite overwrite = Overwrite::ask;
};

// The inputs whose result may be written: an existing NAME.EXT beside one is replaced only as
// -y/-n or the user allow. Refusals are reported one per line and counted in `refused`.
std::vector<std::string> inputsToConvert(const ConvertOptions& options, OutputFormat format,
                                         size_t& refused) {
    std::vector<std::string> accepted;
    for (const std::string& file : options.files) {
        fs::path target = fs::absolute(file);
        target.replace_extension(fileExtension(format));
        try {
            if (target != fs::absolute(file)) claimOutput(target, options.overwrite);
            accepted.push_back(file);
        } catch (const CommandFailure& failure) {
            std::cerr << "quillora-cli: " << failure.what() << std::endl;
            ++refused;
        }
    }
    return accepted;
}

void runConvert(const ConvertOptions& options) {
    const auto format = outputFormatNamed(options.format);
    if (!format) throw CLI::ValidationError("--to", "expects m4a, wav or doc");
    size_t refused = 0;
    const std::vector<std::string> inputs = inputsToConvert(options, *format, refused);
    if (inputs.empty()) throw FailuresReported{};
    // Detection lines would break the progress display; the results say what matters.
    const ScopedConsoleSink silence([](std::string_view) {});
    BatchDisplay display(::isatty(STDERR_FILENO) == 1);
    InterruptGuard guard;
    std::vector<MediaFile> files;
    {
        FileConverter converter;
        converter.setOutputFormat(*format);
        for (const std::string& file : inputs)
            converter.addFile(fs::absolute(file));
        converter.setChangeCallback([&](const std::string&) { display.update(converter.files()); });
        converter.convertAll();
        bool cancelled = false;
        while (!converter.waitUntilIdleFor(std::chrono::milliseconds(100))) {
            if (InterruptGuard::interrupted() && !cancelled) {
                converter.cancelAll();
                cancelled = true;
            }
        }
        converter.setChangeCallback({});
        files = converter.files();
    }
    display.update(files);
    display.finish();

    auto count = [&](const char* wanted) {
        return std::count_if(files.begin(), files.end(),
                             [&](const MediaFile& f) { return f.status == wanted; });
    };
    const auto failed = count(status::kFailed);
    const auto cancelled = count(status::kCancelled);
    std::cout << "转换完成: " << count(status::kCompleted) << " 个成功, " << failed << " 个失败";
    if (cancelled > 0) std::cout << ", " << cancelled << " 个已取消";
    std::cout << std::endl;
    if (InterruptGuard::interrupted()) throw CommandFailure{"已取消"};
    if (failed > 0) throw CommandFailure{std::to_string(failed) + " 个文件转换失败"};
    if (refused > 0) throw FailuresReported{};
}

struct EncodingOptions {
    std::vector<std::string> files;
    std::string utf8Output;
    Overwrite overwrite = Overwrite::ask;
};

void runEncoding(const EncodingOptions& options) {
    if (!options.utf8Output.empty() && options.files.size() != 1) {
        throw CLI::ValidationError("--to-utf8", "converts exactly one file");
    }
    if (!options.utf8Output.empty()) claimOutput(options.utf8Output, options.overwrite);
    const EncodingService service;
    int failed = 0;
    for (const std::string& file : options.files) {
        try {
            const std::string encoding = service.detectEncoding(file);
            std::cout << file << ": " << encoding << std::endl;
            if (options.utf8Output.empty()) continue;
            // iconv writes as it goes: into a hidden file beside the target, then put in place
            // the way every output is (links followed, mode kept, devices written into).
            const fs::path target = options.utf8Output;
            const fs::path staged = hiddenSiblingOf(target);
            try {
                service.convertToUTF8(file, staged, encoding);
                writeFileAtomically(target, readFile(staged));
                fs::remove(staged);
            } catch (...) {
                std::error_code ignored;
                fs::remove(staged, ignored);
                throw;
            }
        } catch (const Error& error) {
            std::cerr << file << ": " << error.description() << std::endl;
            ++failed;
        } catch (const std::exception& error) {
            std::cerr << file << ": " << error.what() << std::endl;
            ++failed;
        }
    }
    if (failed > 0) throw CommandFailure{std::to_string(failed) + " 个文件未能识别编码"};
}

const CommandRegistration registration([](CLI::App& app) {
    auto convert = std::make_shared<ConvertOptions>();
    CLI::App* command = app.add_subcommand(
        "convert", "Convert recordings to M4A or WAV and text documents to DOC, beside each file");
    command->add_option("files", convert->files, "Audio, video, TXT or RTF files")->required();
    command->add_option("--to", convert->format, "m4a, wav or doc")->required();
    addOverwriteOptions(command, convert->overwrite);
    addExample(command, "quillora-cli convert interview.mov --to m4a");
    command->callback([convert] { runConvert(*convert); });

    auto encoding = std::make_shared<EncodingOptions>();
    CLI::App* detect = app.add_subcommand(
        "encoding", "Print the text encoding of each file; --to-utf8 writes a UTF-8 copy");
    detect->add_option("files", encoding->files, "Text files")->required();
    detect->add_option("--to-utf8", encoding->utf8Output, "Write the file's text as UTF-8 here");
    addOverwriteOptions(detect, encoding->overwrite);
    addExample(detect, "quillora-cli encoding script.txt --to-utf8 script.utf8.txt");
    detect->callback([encoding] { runEncoding(*encoding); });
});

}  // namespace
}  // namespace quillora::cli
