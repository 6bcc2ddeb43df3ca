#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>

#include "pipeline/script_reader.h"
#include "pipeline/task_queue.h"
#include "store/kestrune_item.h"

namespace quillora {

class DatabaseManager;
class NetworkService;
class NotificationCenter;
class UserManager;

/// Carries task records from their two local files to a started server task: reads and encodes
/// the script, turns the recording into audio, uploads both, charges the account and starts the
/// server task, writing every status and progress to the task store and posting taskUpdated.
/// Jobs run one at a time on the queue's worker thread.
class TaskProcessor {
  public:
    /// The process-wide processor on the shared stores and service.
    static TaskProcessor& shared();

    TaskProcessor(DatabaseManager& databaseManager, NetworkService& networkService,
                  UserManager& userManager, NotificationCenter& notifications);
    /// Cancels everything and joins the worker.
    ~TaskProcessor();
    TaskProcessor(const TaskProcessor&) = delete;
    TaskProcessor& operator=(const TaskProcessor&) = delete;

    /// Queues the record's processing job and returns at once; jobs run in request order.
    void processTask(const KestruneItem& item);

    /// Drops the waiting jobs and asks the running one to stop; it ends as "已取消" at its next
    /// check. Later requests run normally.
    void cancelAllTasks();

    /// Stops the waiting or running job of the record with that id, the others go on; it ends
    /// as "已取消" at its next check. The dashboard calls it for the rows it deletes, so a
    /// deleted task is never uploaded or charged. Unknown or finished ids are ignored.
    void cancelTask(std::int64_t id);

    /// The queue the jobs run on (tests and the command line wait on it).
    TaskQueue& taskQueue() { return taskQueue_; }

    // The job and its steps; the job never throws, the steps throw what ends it.

    /// The whole job for one record; `stop` is its cancellation.
    void runProcessingJob(const KestruneItem& item, std::stop_token stop);
    /// Writes "已取消" (progress 0), posts taskUpdated and throws TaskCancelledError when stop
    /// was requested.
    void checkCancellation(const KestruneItem& item, std::stop_token stop);
    /// Reads the script, stores its line count and name split ("文本处理完成", 0.25) and returns
    /// the text to upload.
    std::string processTextAndUpdate(const KestruneItem& item, std::stop_token stop = {});
    /// The audio file to upload (the recording itself or a converted temporary file) and its
    /// length in whole minutes.
    std::pair<std::filesystem::path, double> processMediaAndUpdate(
        const KestruneItem& item, const std::filesystem::path& mediaFilePath, std::stop_token stop);
    /// Exports the recording's audio to a new file in the temporary folder as `outputFormat`
    /// ("m4a" or "wav"); throws TaskProcessingError (mediaConversionFailed, cancelled).
    static std::filesystem::path convertAudio(const std::filesystem::path& mediaFilePath,
                                              const std::string& outputFormat,
                                              const std::function<void(double)>& updateHandler,
                                              std::stop_token stop = {});
    /// Whole minutes, halves rounded away from zero; 0 (with a console line) when unreadable.
    static double getMediaDuration(const std::filesystem::path& url);
    /// Uploads, charges the minutes and starts the server task, recording each outcome.
    void uploadAndDeduct(const KestruneItem& item, const std::string& finaltext,
                         const std::filesystem::path& finalaudiopath, double duration,
                         std::stop_token stop);

  private:
    void writeStatus(const KestruneItem& item, const char* status, double progress,
                     std::optional<double> duration = std::nullopt,
                     std::optional<std::string> textlost = std::nullopt,
                     std::optional<std::string> part1 = std::nullopt,
                     std::optional<std::string> part2 = std::nullopt,
                     std::optional<std::int32_t> isrenmingtiao = std::nullopt);
    /// Writes a progress value and posts {"id", "progress"}; false when the store refused.
    bool writeProgress(const KestruneItem& item, double progress);

    DatabaseManager& databaseManager_;
    NetworkService& networkService_;
    UserManager& userManager_;
    NotificationCenter& notifications_;

    std::mutex requestsMutex_;
    /// Requests not yet handed to the queue, by taskid; a later request replaces the entry.
    std::map<std::string, std::stop_source> activeTasks_;
    /// Jobs handed to the queue and not yet finished, by record id: each one's own stop.
    std::map<std::int64_t, std::stop_source> queuedJobs_;

    TaskQueue taskQueue_;  // last: its worker stops before the members above go away
};

}  // namespace quillora
