#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/task_queue.h"
#include "platform/console.h"

namespace quillora {
namespace {

using namespace std::chrono_literals;

// Records what the jobs did, in order, from the worker thread.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> entries;
    void add(std::string entry) {
        std::lock_guard lock(mutex);
        entries.push_back(std::move(entry));
    }
};

TEST(TaskQueue, RunsJobsOneAtATimeInOrderAndSurvivesFailures) {
    ConsoleCapture console;
    Journal journal;
    TaskQueue queue;
    for (const std::string name : {"a", "b", "c"}) {
        queue.enqueue([&journal, name](std::stop_token) {
            journal.add("start " + name);
            std::this_thread::sleep_for(20ms);
            journal.add("end " + name);
            if (name == "a") throw std::runtime_error("boom");
        });
    }
    queue.actor.waitUntilIdle();
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"start a", "end a", "start b", "end b",
                                                         "start c", "end c"}));
    EXPECT_TRUE(console.contains("任务执行失败: boom"));
    EXPECT_EQ(queue.actor.runningTasks(), 0);
}

TEST(TaskQueue, CancelAllDropsWaitingJobsAndStopsTheRunningOne) {
    Journal journal;
    TaskQueue queue;
    std::latch started(1);
    queue.enqueue([&](std::stop_token stop) {
        started.count_down();
        while (!stop.stop_requested())
            std::this_thread::sleep_for(1ms);
        journal.add("stopped");
    });
    queue.enqueue([&](std::stop_token) { journal.add("waiting job ran"); });
    started.wait();
    EXPECT_EQ(queue.actor.pendingTasks(), 1u);
    queue.cancelAll();
    // The cancelled job keeps its slot until it has returned; then later work runs normally.
    queue.enqueue([&](std::stop_token stop) {
        journal.add(stop.stop_requested() ? "later job stopped" : "later job ran");
    });
    queue.actor.waitUntilIdle();
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"stopped", "later job ran"}));
}

TEST(TaskQueue, TeardownStopsTheRunningJob) {
    std::atomic<bool> sawStop = false;
    std::latch started(1);
    {
        TaskQueue queue;
        queue.enqueue([&](std::stop_token stop) {
            started.count_down();
            while (!stop.stop_requested())
                std::this_thread::sleep_for(1ms);
            sawStop = true;
        });
        started.wait();
    }
    EXPECT_TRUE(sawStop);
}

}  // namespace
}  // namespace quillora
