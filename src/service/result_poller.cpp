#include "platform/console.h"
#include "service/network_service.h"
#include "store/database_manager.h"

namespace quillora {

void NetworkService::startNewlyOrdersTimer(std::chrono::milliseconds interval) {
    std::lock_guard lock(timerMutex_);
    if (timer_.joinable()) {
        timer_.request_stop();
        timer_.join();
    }
    timer_ = std::jthread([this, interval](std::stop_token stop) {
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now() + interval;
        std::mutex waitMutex;
        std::unique_lock waitLock(waitMutex);
        while (!stop.stop_requested()) {
            timerWake_.wait_until(waitLock, stop, next, [] { return false; });
            if (stop.stop_requested()) return;
            runPass(stop);
            // Ticks that fell due while the pass ran are dropped, not queued up.
            const auto now = Clock::now();
            while (next <= now)
                next += interval;
        }
    });
}

void NetworkService::stopNewlyOrdersTimer() {
    std::lock_guard lock(timerMutex_);
    if (timer_.joinable()) {
        timer_.request_stop();
        timer_.join();
    }
}

PollingReport NetworkService::runPollingPass() {
    return runPass({});
}

PollingReport NetworkService::runPass(std::stop_token stopToken) {
    PollingReport report;
    bool expected = false;
    if (!passRunning_.compare_exchange_strong(expected, true)) {
        report.skipped = true;
        return report;
    }
    try {
        if (!database_.isInitialized()) database_.initializeDatabase();
        for (const KestruneItem& task : database_.getItemsByStatus(status::kProcessing)) {
            if (stopToken.stop_requested()) break;
            ++report.examined;
            // One record that cannot be checked must not keep every later one from finishing:
            // it is reported and the pass goes on.
            try {
                if (checkTaskCompletion(task, stopToken)) {
                    ++report.finished;
                } else {
                    ++report.pending;
                }
            } catch (const std::exception& error) {
                ++report.failed;
                if (!report.error) report.error = error.what();
                console("检查新订单失败: " + std::string(error.what()));
            }
        }
    } catch (const std::exception& error) {
        report.error = error.what();
        console("检查新订单失败: " + *report.error);
    }
    passRunning_ = false;
    return report;
}

}  // namespace quillora
