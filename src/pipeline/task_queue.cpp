#include "pipeline/task_queue.h"

#include <exception>

#include "platform/console.h"
#include "platform/error.h"
#include "platform/uuid.h"

namespace quillora {

TaskQueueActor::TaskQueueActor() : worker_([this](std::stop_token stop) { run(stop); }) {}

TaskQueueActor::~TaskQueueActor() {
    cancelAll();
    worker_.request_stop();
    worker_.join();
}

void TaskQueueActor::enqueue(Job job) {
    {
        std::lock_guard lock(mutex_);
        pendingTasks_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void TaskQueueActor::cancelAll() {
    {
        std::lock_guard lock(mutex_);
        pendingTasks_.clear();
        for (auto& [id, stop] : activeTasks_)
            stop.request_stop();
        activeTasks_.clear();
    }
    changed_.notify_all();
}

int TaskQueueActor::runningTasks() const {
    std::lock_guard lock(mutex_);
    return runningTasks_;
}

std::size_t TaskQueueActor::pendingTasks() const {
    std::lock_guard lock(mutex_);
    return pendingTasks_.size();
}

void TaskQueueActor::waitUntilIdle() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pendingTasks_.empty() && runningTasks_ == 0; });
}

bool TaskQueueActor::waitUntilIdleFor(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit,
                             [this] { return pendingTasks_.empty() && runningTasks_ == 0; });
}

void TaskQueueActor::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, stop, [this] { return !pendingTasks_.empty(); });
        if (stop.stop_requested()) return;
        Job job = std::move(pendingTasks_.front());
        pendingTasks_.pop_front();
        const std::string id = uuidString();
        std::stop_source jobStop;
        activeTasks_.emplace(id, jobStop);
        ++runningTasks_;
        lock.unlock();
        try {
            job(jobStop.get_token());
        } catch (const Error& error) {
            console("任务执行失败: " + error.description());
        } catch (const std::exception& error) {
            console(std::string("任务执行失败: ") + error.what());
        } catch (...) {
            console("任务执行失败: 未知错误");
        }
        lock.lock();
        // The slot is freed only when the job has returned, even after cancelAll, so a
        // cancelled job that is still finishing never overlaps the next one.
        activeTasks_.erase(id);
        --runningTasks_;
        changed_.notify_all();
    }
}

}  // namespace quillora
