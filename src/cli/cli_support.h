#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/console.h"

namespace quillora::cli {

/// A console sink for commands whose stdout carries data: the product's diagnostic lines go to
/// stderr when `verbose`, nowhere otherwise.
ConsoleSink diagnosticsSink(bool verbose);

/// Adds a subcommand that takes FILE, -o/--output and -v/--verbose and prints
/// `transform(FILE)` (or writes it to the -o file) with diagnostics routed as above.
void addFileToTextCommand(CLI::App& app, const std::string& name, const std::string& description,
                          const std::string& fileHelp,
                          std::function<std::string(const std::filesystem::path&)> transform);

/// Writes `text` atomically to `output`, or to stdout when `output` is empty; a failed write
/// ends the command with its message.
void writeOrPrint(const std::string& output, std::string_view text);

}  // namespace quillora::cli
