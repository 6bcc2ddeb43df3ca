#include "conversion/file_converter.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/uuid.h"

namespace quillora {
namespace fs = std::filesystem;
namespace status = conversion_status;

namespace {

std::string descriptionOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Error& own) {
        return own.description();
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "未知错误";
    }
}

}  // namespace

FileConverter::FileConverter() : FileConverter(ConversionService::Settings{}) {}
FileConverter::FileConverter(ConversionService::Settings settings)
    : service_(std::move(settings)) {}

FileConverter::~FileConverter() {
    service_.cancelAll();
    std::vector<Worker> threads;
    {
        std::lock_guard lock(mutex_);
        threads = std::move(threads_);
    }
    threads.clear();  // joins
}

void FileConverter::setChangeCallback(ChangeCallback callback) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(callback);
}

void FileConverter::notify(const std::string& id) {
    ChangeCallback callback;
    {
        std::lock_guard lock(mutex_);
        callback = onChange_;
    }
    if (callback) callback(id);
}

template <typename Change>
bool FileConverter::update(const std::string& id, Change change) {
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        for (MediaFile& file : files_) {
            if (file.id == id) {
                found = change(file);
                break;
            }
        }
    }
    if (found) notify(id);
    return found;
}

std::vector<MediaFile> FileConverter::files() const {
    std::lock_guard lock(mutex_);
    return files_;
}

OutputFormat FileConverter::outputFormat() const {
    std::lock_guard lock(mutex_);
    return outputFormat_;
}

void FileConverter::setOutputFormat(OutputFormat format) {
    std::lock_guard lock(mutex_);
    outputFormat_ = format;
}

void FileConverter::addFile(const fs::path& url) {
    {
        std::lock_guard lock(mutex_);
        if (std::any_of(files_.begin(), files_.end(),
                        [&](const MediaFile& file) { return file.originalURL == url; })) {
            return;
        }
        MediaFile file;
        file.id = uuidString();
        file.originalURL = url;
        files_.push_back(std::move(file));
    }
    notify("");
}

void FileConverter::convertFile(std::size_t index) {
    MediaFile file;
    OutputFormat format;
    {
        std::lock_guard lock(mutex_);
        if (index >= files_.size()) return;
        MediaFile& entry = files_[index];
        if (activeTasks_.count(entry.id)) return;
        entry.status = status::kConverting;
        entry.progress = 0;
        entry.errorMessage.reset();
        activeTasks_.insert(entry.id);
        cancelled_.erase(entry.id);
        file = entry;
        format = outputFormat_;
    }
    notify(file.id);
    // Threads of conversions that ended are joined here, so a long-lived model keeps none.
    std::vector<Worker> ended;
    {
        std::lock_guard lock(mutex_);
        auto split = std::partition(threads_.begin(), threads_.end(),
                                    [](const Worker& w) { return !w.done->load(); });
        std::move(split, threads_.end(), std::back_inserter(ended));
        threads_.erase(split, threads_.end());
    }
    ended.clear();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::jthread worker([this, file, format, done] {
        service_.convert(
            file, format,
            [this, id = file.id](double value) {
                update(id, [&](MediaFile& entry) {
                    if (entry.status != status::kConverting) return false;
                    entry.progress = value;
                    return true;
                });
            },
            {},
            [this, id = file.id](const ConversionService::Outcome& outcome) {
                finish(id, outcome);
            });
        {
            std::lock_guard lock(mutex_);
            activeTasks_.erase(file.id);
        }
        idle_.notify_all();
        *done = true;
    });
    std::lock_guard lock(mutex_);
    threads_.push_back({std::move(done), std::move(worker)});
}

void FileConverter::finish(const std::string& id, const ConversionService::Outcome& outcome) {
    update(id, [&](MediaFile& entry) {
        if (cancelled_.count(id)) return false;  // the user already saw "已取消"
        if (outcome.output) {
            entry.status = status::kCompleted;
            entry.finalOutputURL = outcome.output;
            entry.progress = 1.0;
        } else {
            entry.status = status::kFailed;
            entry.errorMessage = descriptionOf(outcome.error);
        }
        return true;
    });
}

void FileConverter::convertAll() {
    std::vector<std::size_t> waiting;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (files_[i].status == status::kWaiting) waiting.push_back(i);
        }
    }
    for (const std::size_t index : waiting)
        convertFile(index);
}

void FileConverter::cancelConversion(const std::string& id) {
    {
        std::lock_guard lock(mutex_);
        cancelled_.insert(id);
    }
    service_.cancelConversion(id);
    update(id, [](MediaFile& entry) {
        // A conversion that already ended keeps its result.
        if (entry.status == status::kCompleted || entry.status == status::kFailed) return false;
        entry.status = status::kCancelled;
        return true;
    });
}

void FileConverter::cancelAll() {
    std::vector<std::string> running;
    {
        std::lock_guard lock(mutex_);
        for (const MediaFile& file : files_) {
            if (file.status == status::kConverting) running.push_back(file.id);
        }
        cancelled_.insert(running.begin(), running.end());
    }
    service_.cancelAll();
    for (const std::string& id : running) {
        update(id, [](MediaFile& entry) {
            if (entry.status != status::kConverting) return false;
            entry.status = status::kCancelled;
            return true;
        });
    }
}

void FileConverter::clearCompleted() {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(files_,
                      [](const MediaFile& file) { return file.status == status::kCompleted; });
    }
    notify("");
}

void FileConverter::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return activeTasks_.empty(); });
}

bool FileConverter::waitUntilIdleFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [&] { return activeTasks_.empty(); });
}

}  // namespace quillora
