#include "platform/console.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

namespace quillora {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

ConsoleSink& currentSink() {
    static ConsoleSink sink;
    return sink;
}

}  // namespace

void console(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ConsoleSink setConsoleSink(ConsoleSink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

struct ConsoleCapture::State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

ConsoleCapture::ConsoleCapture()
    : state_(std::make_shared<State>()), route_([state = state_](std::string_view line) {
          std::lock_guard lock(state->mutex);
          state->lines.emplace_back(line);
      }) {}

ConsoleCapture::~ConsoleCapture() = default;

std::vector<std::string> ConsoleCapture::lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
}

bool ConsoleCapture::contains(std::string_view line) const {
    return count(line) > 0;
}

size_t ConsoleCapture::count(std::string_view line) const {
    std::lock_guard lock(state_->mutex);
    return static_cast<size_t>(std::count(state_->lines.begin(), state_->lines.end(), line));
}

void ConsoleCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
}

}  // namespace quillora
