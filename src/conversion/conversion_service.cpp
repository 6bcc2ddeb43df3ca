#include "conversion/conversion_service.h"

#include <algorithm>
#include <cctype>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/console.h"
#include "platform/documents/office_converter.h"
#include "platform/files.h"
#include "platform/media/audio_export.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/uuid.h"
#include "text/unicode.h"

namespace quillora {
namespace fs = std::filesystem;

std::string rawValue(OutputFormat format) {
    switch (format) {
        case OutputFormat::m4a:
            return "M4A";
        case OutputFormat::wav:
            return "WAV";
        case OutputFormat::doc:
            return "DOC";
    }
    return {};
}

std::string fileExtension(OutputFormat format) {
    return toLower(rawValue(format));
}

std::optional<OutputFormat> outputFormatNamed(std::string_view name) {
    const std::string lower = toLower(name);
    for (const OutputFormat format : {OutputFormat::m4a, OutputFormat::wav, OutputFormat::doc}) {
        if (lower == fileExtension(format)) return format;
    }
    return std::nullopt;
}

ConversionError::ConversionError(std::string domain, int code, const std::string& description)
    : Error(description), domain_(std::move(domain)), code_(code) {}

namespace {

bool isOneOf(const std::string& value, std::initializer_list<const char*> options) {
    return std::any_of(options.begin(), options.end(),
                       [&](const char* option) { return value == option; });
}

std::string displayName(const fs::path& path) {
    return "“" + path.filename().string() + "”";
}

// The file system's own failures, in the user's words, with the system's reason.
[[noreturn]] void throwFileError(const std::string& what, const std::error_code& error) {
    throw ConversionError("FileError", error.value(), what + "（" + error.message() + "）");
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

}  // namespace

struct ConversionService::Task {
    std::string id;
    std::stop_source stop;
    int slot = -1;
};

ConversionService::ConversionService() : ConversionService(Settings{}) {}
ConversionService::ConversionService(Settings settings) : settings_(std::move(settings)) {}

ConversionService::~ConversionService() {
    cancelAll();
}

fs::path ConversionService::ensureTempDirectory() const {
    const fs::path parent =
        settings_.temporaryFolder.empty() ? temporaryDirectory() : settings_.temporaryFolder;
    const fs::path folder = parent / "FileConverter";
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throwFileError("无法创建临时文件夹" + displayName(folder), error);
    return folder;
}

int ConversionService::runningCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(std::begin(slotBusy_), std::end(slotBusy_), true));
}

int ConversionService::acquireSlot(Task& task) {
    std::unique_lock lock(mutex_);
    const std::stop_token token = task.stop.get_token();
    while (true) {
        if (token.stop_requested()) return -1;
        for (int slot = 0; slot < maxConcurrentTasks; ++slot) {
            if (!slotBusy_[slot]) {
                slotBusy_[slot] = true;
                return slot;
            }
        }
        slotFreed_.wait(lock);
    }
}

void ConversionService::releaseSlot(int slot) {
    {
        std::lock_guard lock(mutex_);
        slotBusy_[slot] = false;
    }
    slotFreed_.notify_all();
}

void ConversionService::cancelConversion(const std::string& id) {
    {
        std::lock_guard lock(mutex_);
        const auto found = activeTasks_.find(id);
        if (found == activeTasks_.end()) return;
        found->second->stop.request_stop();
        activeTasks_.erase(found);
    }
    slotFreed_.notify_all();  // a cancelled waiter leaves its wait
}

void ConversionService::cancelAll() {
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, task] : activeTasks_)
            task->stop.request_stop();
        activeTasks_.clear();
    }
    slotFreed_.notify_all();
}

void ConversionService::convert(const MediaFile& file, OutputFormat format,
                                const ProgressHandler& progress, const StatusHandler& status,
                                const Completion& completion) {
    (void)status;
    auto task = std::make_shared<Task>();
    task->id = file.id;
    {
        std::lock_guard lock(mutex_);
        activeTasks_[file.id] = task;
    }
    const std::stop_token cancelled = task->stop.get_token();
    task->slot = acquireSlot(*task);
    Outcome outcome;
    if (task->slot >= 0) {
        fs::path tempInput, tempOutput;
        try {
            if (format == OutputFormat::doc &&
                !isOneOf(lowerExtension(file.originalURL), {"txt", "rtf", "rtfd"})) {
                throw ConversionError("ConversionError", 400, "DOC转换仅支持TXT/RTF/RTFD文件");
            }
            prepareTempFiles(file, format, tempInput, tempOutput);
            run(*task, format, progress, tempInput, tempOutput);
            // Cancelled at the last moment: the user's folder stays as it was.
            if (cancelled.stop_requested()) throw media::ExportCancelledError();
            outcome.output = finalizeOutput(tempOutput, file.originalURL, format);
        } catch (...) {
            outcome.error = std::current_exception();
            // What this conversion left in the temporary folder goes; nothing else does.
            if (!tempOutput.empty()) removeQuietly(tempOutput);
        }
        if (!tempInput.empty()) removeQuietly(tempInput);
        releaseSlot(task->slot);
    }
    {
        std::lock_guard lock(mutex_);
        const auto found = activeTasks_.find(file.id);
        if (found != activeTasks_.end() && found->second == task) activeTasks_.erase(found);
    }
    if (!cancelled.stop_requested() && task->slot >= 0 && completion) completion(outcome);
}

void ConversionService::prepareTempFiles(const MediaFile& file, OutputFormat format,
                                         fs::path& tempInput, fs::path& tempOutput) {
    const fs::path folder = ensureTempDirectory();
    fs::path source = file.originalURL;
    std::string extension = source.extension().string();
    // A rich-text bundle is a folder; its text is the RTF inside.
    if (lowerExtension(source) == "rtfd" && fs::is_directory(source)) {
        source /= "TXT.rtf";
        extension = ".rtf";
    }
    tempInput = folder / (file.id + extension);
    tempOutput = folder / (file.id + "." + fileExtension(format));
    if (isOneOf(lowerExtension(source),
                {"txt", "rtf", "rtfd", "csv", "json", "xml", "html", "htm"})) {
        handleTextFileConversion(file, source, tempInput);
        return;
    }
    std::error_code error;
    if (!fs::is_regular_file(source, error)) {
        throwFileError("找不到文件" + displayName(file.originalURL),
                       error ? error : std::make_error_code(std::errc::no_such_file_or_directory));
    }
    fs::copy_file(source, tempInput, fs::copy_options::overwrite_existing, error);
    if (error) throwFileError("无法复制文件" + displayName(file.originalURL), error);
}

void ConversionService::handleTextFileConversion(const MediaFile& file, const fs::path& source,
                                                 const fs::path& tempInput) {
    // One work folder per conversion: two text files may be converting at once.
    const fs::path work = ensureTempDirectory() / "encoding_work" / file.id;
    std::error_code error;
    fs::create_directories(work, error);
    if (error) throwFileError("无法创建临时文件夹" + displayName(work), error);
    struct Cleanup {
        fs::path folder;
        ~Cleanup() { removeQuietly(folder); }
    } cleanup{work};
    try {
        const fs::path converted = work / ("converted_" + source.filename().string());
        const std::string encoding = encodingService_.detectEncoding(source);
        console("检测到文件编码: " + encoding);
        encodingService_.convertToUTF8(source, converted, encoding);
        if (!fs::exists(converted)) throw EncodingError::conversionFailed("转换后文件未创建");
        fs::copy_file(converted, tempInput, fs::copy_options::overwrite_existing, error);
        if (error) throwFileError("无法复制文件" + displayName(source), error);
    } catch (const EncodingError&) {
        throw;
    } catch (const Error& other) {
        throw ConversionError("ConversionError", 500, "文本预处理失败: " + other.description());
    } catch (const std::exception& other) {
        throw ConversionError("ConversionError", 500,
                              "文本预处理失败: " + std::string(other.what()));
    }
}

void ConversionService::run(Task& task, OutputFormat format, const ProgressHandler& progress,
                            const fs::path& tempInput, const fs::path& tempOutput) {
    if (format == OutputFormat::doc) {
        runDocumentConversion(task, tempInput, tempOutput, progress);
        return;
    }
    try {
        media::exportAudio(
            tempInput, tempOutput,
            format == OutputFormat::m4a ? media::AudioFormat::m4a : media::AudioFormat::wav,
            progress, task.stop.get_token());
    } catch (const media::NoAudioTrackError& error) {
        throw ConversionError("ConversionError", -1, error.description());
    } catch (const media::ExportCancelledError& error) {
        throw ConversionError("AVFoundationError", -1, error.description());
    }
}

void ConversionService::runDocumentConversion(Task& task, const fs::path& input,
                                              const fs::path& output,
                                              const ProgressHandler& progress) {
    const auto office = documents::OfficeConverter::forSlot(task.slot, settings_.officeProfiles);
    std::exception_ptr failure;
    std::stop_source stopOffice;
    std::stop_callback forward(task.stop.get_token(), [&] { stopOffice.request_stop(); });
    std::jthread worker([&] {
        try {
            office.convertToDoc(input, output, stopOffice.get_token());
        } catch (...) {
            failure = std::current_exception();
        }
    });
    // The converter says nothing while it works, so progress advances by the clock.
    const std::stop_token cancelled = task.stop.get_token();
    for (int step = 1; step <= 10; ++step) {
        if (cancelled.stop_requested()) break;
        std::this_thread::sleep_for(settings_.documentProgressStep);
        if (cancelled.stop_requested()) break;
        if (progress) progress(step / 10.0);
    }
    worker.join();
    if (cancelled.stop_requested()) throw ConversionError("AVFoundationError", -1, "转换已取消");
    if (!failure) return;
    try {
        std::rethrow_exception(failure);
    } catch (const documents::OfficeError& error) {
        const std::string& raw = error.standardError();
        throw ConversionError("TextutilError", error.exitStatus(),
                              isValidUtf8(raw) ? error.description() : "Textutil转换失败");
    }
}

fs::path ConversionService::finalizeOutput(const fs::path& tempOutput, const fs::path& original,
                                           OutputFormat format) {
    fs::path final = original;
    final.replace_extension(fileExtension(format));
    std::error_code error;
    // Renaming over the old file replaces it in one step: never a moment without either.
    fs::rename(tempOutput, final, error);
    if (error == std::errc::cross_device_link) {
        // Another file system: copy beside the target first, then rename into place.
        const fs::path staged = hiddenSiblingOf(final);
        error.clear();
        fs::copy_file(tempOutput, staged, error);
        if (!error) fs::rename(staged, final, error);
        if (error)
            removeQuietly(staged);
        else
            removeQuietly(tempOutput);
    }
    if (error) throwFileError("无法保存转换结果" + displayName(final), error);
    return final;
}

}  // namespace quillora
