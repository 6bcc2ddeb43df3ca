#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "conversion/conversion_service.h"

namespace quillora {

/// The batch converter behind the converter screen and the `convert` command: a list of files,
/// one output format for all, and conversions started, cancelled and cleared per file or all
/// together. Conversions run on threads of their own; every change is announced through the
/// change callback (on the converting thread: a screen hops to its own thread).
class FileConverter {
  public:
    FileConverter();
    explicit FileConverter(ConversionService::Settings settings);
    /// Cancels what still runs and waits for it.
    ~FileConverter();
    FileConverter(const FileConverter&) = delete;
    FileConverter& operator=(const FileConverter&) = delete;

    /// Called with the id of the file that changed, or "" when the list itself changed.
    using ChangeCallback = std::function<void(const std::string& id)>;
    void setChangeCallback(ChangeCallback callback);

    /// A copy of the list as it is now.
    std::vector<MediaFile> files() const;
    OutputFormat outputFormat() const;
    void setOutputFormat(OutputFormat format);

    /// Appends the file as "等待中" unless the list already holds that path.
    void addFile(const std::filesystem::path& url);
    /// Starts the file at `index` (ignored when out of range or already running).
    void convertFile(std::size_t index);
    /// Starts every waiting file, in list order.
    void convertAll();
    /// Cancels that file's conversion and marks it "已取消" (unless it already ended).
    void cancelConversion(const std::string& id);
    /// Cancels every conversion; running files become "已取消", waiting ones stay waiting.
    void cancelAll();
    /// Removes the completed files; the others keep their order.
    void clearCompleted();

    /// Blocks until no conversion runs (for the command line and tests).
    void waitUntilIdle();
    /// The same for at most `limit`; true when idle.
    bool waitUntilIdleFor(std::chrono::milliseconds limit);

  private:
    void finish(const std::string& id, const ConversionService::Outcome& outcome);
    void notify(const std::string& id);
    template <typename Change>
    bool update(const std::string& id, Change change);

    ConversionService service_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<MediaFile> files_;
    OutputFormat outputFormat_ = OutputFormat::wav;
    std::set<std::string> activeTasks_;
    std::set<std::string> cancelled_;
    ChangeCallback onChange_;
    struct Worker {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::vector<Worker> threads_;
};

}  // namespace quillora
