#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "conversion/encoding_service.h"
#include "platform/error.h"

namespace quillora {

/// The three things a file can be converted to, in the picker's order.
enum class OutputFormat { m4a, wav, doc };

/// "M4A", "WAV", "DOC": the label the user picks.
std::string rawValue(OutputFormat format);
/// "m4a", "wav", "doc": the output's file extension.
std::string fileExtension(OutputFormat format);
/// The format named by its label or extension, any case ("m4a", "WAV"); nothing otherwise.
std::optional<OutputFormat> outputFormatNamed(std::string_view name);

/// Status texts of a file in the batch converter.
namespace conversion_status {
inline constexpr const char* kWaiting = "等待中";
inline constexpr const char* kConverting = "转换中";
inline constexpr const char* kCompleted = "已完成";
inline constexpr const char* kFailed = "失败";
inline constexpr const char* kCancelled = "已取消";
}  // namespace conversion_status

/// One file of the batch converter.
struct MediaFile {
    std::string id;  ///< UUID, upper-case canonical form
    std::filesystem::path originalURL;
    std::string status = conversion_status::kWaiting;
    double progress = 0;
    std::optional<std::string> errorMessage;
    std::optional<std::filesystem::path> finalOutputURL;
};

/// A failed conversion step: a domain ("ConversionError", "AVFoundationError", "TextutilError",
/// "FileError"), a code and the user's description.
class ConversionError : public Error {
  public:
    ConversionError(std::string domain, int code, const std::string& description);
    const std::string& domain() const { return domain_; }
    int code() const { return code_; }

  private:
    std::string domain_;
    int code_;
};

/// Converts one file at a time per call, at most two calls at once: media to M4A or WAV, plain
/// and rich text to DOC (through LibreOffice). Works on a private copy in the "FileConverter"
/// temporary folder and writes the result beside the source under its base name.
class ConversionService {
  public:
    static constexpr int maxConcurrentTasks = 2;

    struct Settings {
        /// Pause between the ten progress steps reported while a document converts.
        std::chrono::milliseconds documentProgressStep{500};
        /// Parent of the "FileConverter" folder; the system temporary folder when empty.
        std::filesystem::path temporaryFolder;
        /// Where the LibreOffice profiles of the two slots live; the shared default when empty.
        std::filesystem::path officeProfiles;
    };

    using ProgressHandler = std::function<void(double)>;
    using StatusHandler = std::function<void(const std::string&)>;
    /// Exactly one of the two is set: the written file, or why it failed.
    struct Outcome {
        std::optional<std::filesystem::path> output;
        std::exception_ptr error;
    };
    using Completion = std::function<void(const Outcome&)>;

    ConversionService();
    explicit ConversionService(Settings settings);
    ~ConversionService();
    ConversionService(const ConversionService&) = delete;
    ConversionService& operator=(const ConversionService&) = delete;

    /// Converts `file` and blocks until done; waits first while two conversions run.
    /// `completion` is called once, and never when the conversion was cancelled. `status` is
    /// accepted and not called.
    void convert(const MediaFile& file, OutputFormat format, const ProgressHandler& progress,
                 const StatusHandler& status, const Completion& completion);

    /// Cancels the conversion of that file id, running or still waiting for a slot.
    void cancelConversion(const std::string& id);
    /// Cancels every conversion, running or waiting.
    void cancelAll();

    /// Conversions holding a slot right now (at most maxConcurrentTasks).
    int runningCount() const;

    /// "<temporary folder>/FileConverter", created when missing (throws when it cannot be).
    std::filesystem::path ensureTempDirectory() const;

  private:
    struct Task;
    int acquireSlot(Task& task);
    void releaseSlot(int slot);
    void run(Task& task, OutputFormat format, const ProgressHandler& progress,
             const std::filesystem::path& tempInput, const std::filesystem::path& tempOutput);
    void prepareTempFiles(const MediaFile& file, OutputFormat format,
                          std::filesystem::path& tempInput, std::filesystem::path& tempOutput);
    void handleTextFileConversion(const MediaFile& file, const std::filesystem::path& source,
                                  const std::filesystem::path& tempInput);
    void runDocumentConversion(Task& task, const std::filesystem::path& input,
                               const std::filesystem::path& output,
                               const ProgressHandler& progress);
    std::filesystem::path finalizeOutput(const std::filesystem::path& tempOutput,
                                         const std::filesystem::path& original,
                                         OutputFormat format);

    Settings settings_;
    EncodingService encodingService_;
    mutable std::mutex mutex_;
    std::condition_variable slotFreed_;
    bool slotBusy_[maxConcurrentTasks] = {};
    std::map<std::string, std::shared_ptr<Task>> activeTasks_;
};

}  // namespace quillora
