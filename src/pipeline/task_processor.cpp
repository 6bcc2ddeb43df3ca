#include "pipeline/task_processor.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "pipeline/task_processing_error.h"
#include "platform/console.h"
#include "platform/media/audio_export.h"
#include "platform/media/media_file.h"
#include "platform/notifications.h"
#include "platform/paths.h"
#include "platform/uuid.h"
#include "service/network_service.h"
#include "service/responses.h"
#include "store/database_manager.h"
#include "store/user_manager.h"
#include "text/unicode.h"

namespace quillora {
namespace {

// A fraction 0…1 of one quarter of the job, from `base`, rounded to a multiple of 1/200.
double quarterProgress(double fraction, double base) {
    const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return std::round((f * 0.25 + base) * 200) / 200;
}

}  // namespace

TaskProcessor& TaskProcessor::shared() {
    static TaskProcessor processor(DatabaseManager::shared(), NetworkService::shared(),
                                   UserManager::shared(), NotificationCenter::shared());
    return processor;
}

TaskProcessor::TaskProcessor(DatabaseManager& databaseManager, NetworkService& networkService,
                             UserManager& userManager, NotificationCenter& notifications)
    : databaseManager_(databaseManager),
      networkService_(networkService),
      userManager_(userManager),
      notifications_(notifications) {}

TaskProcessor::~TaskProcessor() {
    cancelAllTasks();
}

void TaskProcessor::processTask(const KestruneItem& item) {
    std::stop_source request;
    {
        std::lock_guard lock(requestsMutex_);
        activeTasks_[item.taskid] = request;
    }
    std::stop_source own;
    TaskQueueActor::Job job = [this, item, own](std::stop_token queueStop) {
        // Either the queue's stop (cancel all) or the record's own (cancelTask) ends the job.
        std::stop_source stop = own;
        std::stop_callback forward(queueStop, [&stop] { stop.request_stop(); });
        runProcessingJob(item, stop.get_token());
        std::lock_guard lock(requestsMutex_);
        const auto entry = queuedJobs_.find(item.id);
        if (entry != queuedJobs_.end() && entry->second == own) queuedJobs_.erase(entry);
    };
    std::lock_guard lock(requestsMutex_);
    if (!request.stop_requested()) {
        queuedJobs_[item.id] = own;
        taskQueue_.enqueue(std::move(job));
    }
    // A later request for the same record may have replaced the entry; that one is its own.
    const auto entry = activeTasks_.find(item.taskid);
    if (entry != activeTasks_.end() && entry->second == request) activeTasks_.erase(entry);
}

void TaskProcessor::cancelAllTasks() {
    {
        std::lock_guard lock(requestsMutex_);
        for (auto& [taskid, request] : activeTasks_)
            request.request_stop();
        activeTasks_.clear();
        queuedJobs_.clear();
    }
    taskQueue_.cancelAll();
}

void TaskProcessor::cancelTask(std::int64_t id) {
    std::lock_guard lock(requestsMutex_);
    const auto entry = queuedJobs_.find(id);
    if (entry == queuedJobs_.end()) return;
    entry->second.request_stop();
    queuedJobs_.erase(entry);
}

void TaskProcessor::writeStatus(const KestruneItem& item, const char* status, double progress,
                                std::optional<double> duration, std::optional<std::string> textlost,
                                std::optional<std::string> part1, std::optional<std::string> part2,
                                std::optional<std::int32_t> isrenmingtiao) {
    databaseManager_.updateTaskById(item.id, std::string(status), progress, duration,
                                    std::move(textlost), std::move(part1), std::move(part2),
                                    isrenmingtiao);
    notifications_.post(notification::kTaskUpdated);
}

bool TaskProcessor::writeProgress(const KestruneItem& item, double progress) {
    try {
        databaseManager_.updateProgressById(item.id, progress);
    } catch (const std::exception& error) {
        console(std::string("更新进度失败: ") + error.what());
        return false;
    }
    notifications_.post(notification::kTaskUpdated, {{"id", item.id}, {"progress", progress}});
    return true;
}

void TaskProcessor::runProcessingJob(const KestruneItem& item, std::stop_token stop) {
    try {
        writeStatus(item, status::kPending, 0);
    } catch (const std::exception& error) {
        console(std::string("更新状态和进度失败: ") + error.what());
    }

    std::filesystem::path audioPath;
    const auto removeConvertedAudio = [&] {
        if (audioPath.empty() || audioPath == std::filesystem::path(item.movieFilePath)) return;
        std::error_code ignored;
        std::filesystem::remove(audioPath, ignored);
    };
    const auto cancelled = [&] {
        // Nothing will pick a cancelled job up again, so its converted audio goes too.
        removeConvertedAudio();
        try {
            writeStatus(item, status::kCancelled, 0);
        } catch (const std::exception& writeError) {
            console(std::string("更新取消状态失败: ") + writeError.what());
        }
    };
    const auto failed = [&](const std::string& description) {
        try {
            databaseManager_.updateTaskById(item.id, std::string(status::kFailed), 0.0);
            console("任务 " + std::to_string(item.id) + " 错误信息: " + description);
            notifications_.post(notification::kTaskUpdated);
            console("任务处理失败: " + description);
        } catch (const std::exception& writeError) {
            console(std::string("更新失败状态失败: ") + writeError.what());
        }
    };
    try {
        checkCancellation(item, stop);
        const std::string finaltext = processTextAndUpdate(item, stop);
        if (stop.stop_requested()) throw TaskCancelledError();
        double minutes = 0;
        std::tie(audioPath, minutes) = processMediaAndUpdate(item, item.movieFilePath, stop);
        if (stop.stop_requested()) throw TaskCancelledError();
        uploadAndDeduct(item, finaltext, audioPath, minutes, stop);
        removeConvertedAudio();
    } catch (const TaskCancelledError&) {
        cancelled();
    } catch (const TaskProcessingError& error) {
        // A stopped export ends the job the same way as a stop between the steps.
        if (error.kind() == TaskProcessingError::Kind::cancelled) {
            cancelled();
        } else {
            failed(error.what());
        }
    } catch (const std::exception& error) {
        failed(error.what());
    }
}

void TaskProcessor::checkCancellation(const KestruneItem& item, std::stop_token stop) {
    if (!stop.stop_requested()) return;
    databaseManager_.updateTaskById(item.id, std::string(status::kCancelled), 0.0);
    notifications_.post(notification::kTaskUpdated);
    throw TaskCancelledError();
}

std::string TaskProcessor::processTextAndUpdate(const KestruneItem& item, std::stop_token stop) {
    const ScriptText script = processTextFile(item.textFilePath, stop);
    // An empty script cannot be aligned: stop before the account is charged for nothing.
    if (script.content.empty()) throw TaskProcessingError::textProcessingFailed();
    if (hasNameList(script.content)) {
        auto [names, text] = processNameListText(script.content);
        writeStatus(item, status::kTextProcessed, 0.25, std::nullopt, script.lineCount, names, text,
                    1);
        return text;
    }
    writeStatus(item, status::kTextProcessed, 0.25, std::nullopt, script.lineCount, std::string(),
                script.content, 0);
    return script.content;
}

std::pair<std::filesystem::path, double> TaskProcessor::processMediaAndUpdate(
    const KestruneItem& item, const std::filesystem::path& mediaFilePath, std::stop_token stop) {
    const std::string extension = lowerExtension(mediaFilePath);
    const std::string outputFormat = item.outputFormat.empty() ? "m4a" : item.outputFormat;
    std::filesystem::path audioPath;
    double minutes = 0;
    if (extension == "m4a" || extension == "mp3" || extension == "wav") {
        writeStatus(item, status::kProcessing, 0.25);
        minutes = getMediaDuration(mediaFilePath);
        audioPath = mediaFilePath;
    } else {
        writeStatus(item, status::kTranscoding, 0.25);
        double lastWritten = -1;
        audioPath = convertAudio(
            mediaFilePath, outputFormat,
            [&](double fraction) {
                const double progress = quarterProgress(fraction, 0.25);
                // The export reports far more often than the rounded value changes.
                if (progress == lastWritten) return;
                lastWritten = progress;
                writeProgress(item, progress);
            },
            stop);
        minutes = getMediaDuration(audioPath);
    }
    writeStatus(item, status::kProcessing, 0.5, minutes);
    return {audioPath, minutes};
}

std::filesystem::path TaskProcessor::convertAudio(const std::filesystem::path& mediaFilePath,
                                                  const std::string& outputFormat,
                                                  const std::function<void(double)>& updateHandler,
                                                  std::stop_token stop) {
    const std::string format = toLower(outputFormat);
    media::AudioFormat audioFormat;
    if (format == "m4a") {
        audioFormat = media::AudioFormat::m4a;
    } else if (format == "wav") {
        audioFormat = media::AudioFormat::wav;
    } else {
        throw TaskProcessingError::mediaConversionFailed();
    }
    const std::filesystem::path output = temporaryDirectory() / (uuidString() + "." + format);
    const auto removeOutput = [&] {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
    };
    try {
        media::exportAudio(mediaFilePath, output, audioFormat, updateHandler, stop);
    } catch (const media::ExportCancelledError&) {
        removeOutput();
        throw TaskProcessingError::cancelled();
    } catch (const std::exception& error) {
        console(std::string("❌ 音频导出失败: ") + error.what());
        removeOutput();
        throw TaskProcessingError::mediaConversionFailed();
    }
    return output;
}

double TaskProcessor::getMediaDuration(const std::filesystem::path& url) {
    try {
        const double seconds = media::MediaFile(url).durationSeconds();
        if (!std::isfinite(seconds) || seconds < 0) throw media::MediaError("媒体时长未知");
        return std::round(seconds / 60);
    } catch (const std::exception& error) {
        console(std::string("获取媒体时长失败: ") + error.what());
        return 0;
    }
}

void TaskProcessor::uploadAndDeduct(const KestruneItem& item, const std::string& finaltext,
                                    const std::filesystem::path& finalaudiopath, double duration,
                                    std::stop_token stop) {
    double lastWritten = -1;
    const auto uploadProgress = [&](double fraction) {
        const double progress = quarterProgress(fraction, 0.5);
        if (progress == lastWritten) return;
        lastWritten = progress;
        try {
            databaseManager_.updateProgressById(item.id, progress);
        } catch (const std::exception&) {
            // A progress value that cannot be stored is only a missed update of the bar.
        }
        notifications_.post(notification::kTaskUpdated, {{"id", item.id}, {"progress", progress}});
    };
    try {
        networkService_.uploadFiles(finaltext, finalaudiopath, item.taskid, uploadProgress, stop);
    } catch (const std::exception& error) {
        if (stop.stop_requested()) throw TaskCancelledError();
        throw TaskProcessingError::uploadFailed(error.what());
    }
    // The last point at which a cancellation costs the user nothing.
    if (stop.stop_requested()) throw TaskCancelledError();
    writeStatus(item, status::kUploaded, 0.7);

    const DeductionResponse reply = networkService_.deductFee(duration);
    const ChargeOutcome outcome = chargeOutcome(reply);
    const std::string prefix = "任务 " + std::to_string(item.id) + " 错误信息: ";
    if (!outcome.succeeded) {
        databaseManager_.updateTaskById(item.id, std::string(status::kPaymentFailed), 0.0);
        console(prefix + outcome.failureText);
        notifications_.post(notification::kTaskUpdated);
        return;
    }
    writeStatus(item, status::kPaid, 0.72);
    if (reply.data) userManager_.updatePreamount(reply.data->after_amount);

    const SimpleResponse started = networkService_.starttask(item.taskid);
    if (started.status == 200) {
        writeStatus(item, status::kProcessing, 0.75);
        return;
    }
    databaseManager_.updateTaskById(item.id, std::string(status::kPaymentFailed), 0.75);
    console(prefix + started.message);
    notifications_.post(notification::kTaskUpdated);
}

}  // namespace quillora
