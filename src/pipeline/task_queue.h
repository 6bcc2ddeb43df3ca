#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace quillora {

/// Runs jobs one at a time, in the order they were enqueued, on one worker thread of its own.
/// A job that throws is logged ("任务执行失败: ") and the next one starts.
class TaskQueueActor {
  public:
    /// A job; its stop token is requested by cancelAll().
    using Job = std::function<void(std::stop_token)>;

    static constexpr int maxConcurrentTasks = 1;

    TaskQueueActor();
    /// Drops waiting jobs, asks the running one to stop and joins the worker.
    ~TaskQueueActor();
    TaskQueueActor(const TaskQueueActor&) = delete;
    TaskQueueActor& operator=(const TaskQueueActor&) = delete;

    void enqueue(Job job);
    /// Drops every waiting job and asks the running one to stop; later jobs run normally.
    void cancelAll();

    int runningTasks() const;
    std::size_t pendingTasks() const;
    /// Blocks until nothing is waiting or running (tests and the command line).
    void waitUntilIdle() const;
    /// Like waitUntilIdle() for at most `limit`; true when idle.
    bool waitUntilIdleFor(std::chrono::milliseconds limit) const;

  private:
    void run(std::stop_token stop);

    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    std::deque<Job> pendingTasks_;
    int runningTasks_ = 0;
    std::map<std::string, std::stop_source> activeTasks_;  // the running job under a fresh UUID
    std::jthread worker_;                                  // last: starts after the state exists
};

/// The queue the processor hands its jobs to; forwards to its actor.
class TaskQueue {
  public:
    void enqueue(TaskQueueActor::Job job) { actor.enqueue(std::move(job)); }
    void cancelAll() { actor.cancelAll(); }

    TaskQueueActor actor;
};

}  // namespace quillora
