#pragma once

#include <string>
#include <string_view>

#include "platform/console.h"

namespace quillora::cli {

/// A console sink for commands whose stdout carries data: the product's diagnostic lines go to
/// stderr when `verbose`, nowhere otherwise.
ConsoleSink diagnosticsSink(bool verbose);

/// Routes the console through diagnosticsSink() while alive.
class DiagnosticsRoute {
  public:
    explicit DiagnosticsRoute(bool verbose) : previous_(setConsoleSink(diagnosticsSink(verbose))) {}
    ~DiagnosticsRoute() { setConsoleSink(std::move(previous_)); }
    DiagnosticsRoute(const DiagnosticsRoute&) = delete;
    DiagnosticsRoute& operator=(const DiagnosticsRoute&) = delete;

  private:
    ConsoleSink previous_;
};

/// Writes `text` atomically to `output`, or to stdout when `output` is empty; a failed write
/// ends the command with its message.
void writeOrPrint(const std::string& output, std::string_view text);

}  // namespace quillora::cli
