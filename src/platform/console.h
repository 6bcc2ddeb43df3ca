#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillora {

/// Writes one diagnostic line (no trailing newline needed) to the current console sink.
void console(std::string_view line);

/// Replaces the console sink (stdout by default) for the rest of the process; returns the
/// previous one. Thread-safe. For a sink that must end with a scope use ScopedConsoleSink.
using ConsoleSink = std::function<void(std::string_view)>;
ConsoleSink setConsoleSink(ConsoleSink sink);

/// Routes console lines to a sink while alive and restores the previous sink when it ends, on
/// every path: a sink that refers to a caller's objects never outlives them.
class ScopedConsoleSink {
  public:
    explicit ScopedConsoleSink(ConsoleSink sink) : previous_(setConsoleSink(std::move(sink))) {}
    ~ScopedConsoleSink() { setConsoleSink(std::move(previous_)); }
    ScopedConsoleSink(const ScopedConsoleSink&) = delete;
    ScopedConsoleSink& operator=(const ScopedConsoleSink&) = delete;

  private:
    ConsoleSink previous_;
};

/// Collects every console line while alive, for tests; restores the previous sink on exit.
class ConsoleCapture {
  public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view line) const;
    size_t count(std::string_view line) const;
    void clear();

  private:
    struct State;
    std::shared_ptr<State> state_;
    ScopedConsoleSink route_;
};

}  // namespace quillora
