#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillora {

/// Writes one diagnostic line (no trailing newline needed) to the current console sink.
void console(std::string_view line);

/// Replaces the console sink (stdout by default); returns the previous one. Thread-safe.
using ConsoleSink = std::function<void(std::string_view)>;
ConsoleSink setConsoleSink(ConsoleSink sink);

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
    State* state_;
    ConsoleSink previous_;
};

}  // namespace quillora
