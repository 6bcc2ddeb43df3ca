#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

namespace quillora::cli {

/// A console sink for commands whose stdout carries data: the product's diagnostic lines go to
/// stderr when `verbose`, nowhere otherwise.
ConsoleSink diagnosticsSink(bool verbose);

/// The text of an input file as UTF-8, whatever encoding it is written in (detected, or
/// `encoding` when given); says on stderr which encoding it read when that was not UTF-8.
/// A file that cannot be read or decoded ends the command with a message naming it.
std::string readInputText(const std::filesystem::path& file, const std::string& encoding = {});

/// Adds `--encoding NAME` (the input's encoding instead of the detected one) to a command.
void addEncodingOption(CLI::App* command, std::string& encoding);

/// What a command does when a file it is about to write exists already.
enum class Overwrite {
    ask,     ///< ask on a terminal, keep the file otherwise (the default)
    always,  ///< -y/--overwrite
    never,   ///< -n/--no-overwrite
};

/// Adds -y/--overwrite and -n/--no-overwrite (one excludes the other).
void addOverwriteOptions(CLI::App* command, Overwrite& policy);

/// Ends the command (CommandFailure naming the file) unless `target` may be written: nothing
/// is there yet, it is not a regular file (a device, a pipe), or `policy` (or the user's
/// answer on a terminal) allows replacing it.
void claimOutput(const std::filesystem::path& target, Overwrite policy);

/// True when -o names standard output ("-").
inline bool isStandardOutput(const std::string& output) {
    return output == "-";
}

/// Writes `text` to stdout; a failed write ends the command (exit 1).
void printToStandardOutput(std::string_view text);

/// Runs `convert` on each input; a failure is reported on stderr ("quillora-cli: " + message)
/// and the next input goes on. Ends with FailuresReported when any failed.
void forEachInput(const std::vector<std::string>& inputs,
                  const std::function<void(const std::filesystem::path&)>& convert);

/// Adds the example that closes a command's --help.
void addExample(CLI::App* command, const std::string& example);

/// While alive, Ctrl-C and SIGTERM raise a flag instead of ending the program, so a command can
/// cancel its work and clean up; the previous handling comes back when it ends.
class InterruptGuard {
  public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    /// True once a signal arrived while a guard was alive (reset by each new guard).
    static bool interrupted();

  private:
    struct Previous;
    std::unique_ptr<Previous> previous_;
};

/// Adds a subcommand that takes FILE, -o/--output, -y/-n and -v/--verbose and prints
/// `transform(FILE)` (or writes it to the -o file) with diagnostics routed as above.
void addFileToTextCommand(CLI::App& app, const std::string& name, const std::string& description,
                          const std::string& fileHelp, const std::string& example,
                          std::function<std::string(const std::filesystem::path&)> transform);

/// The same for a text input: `transform` gets the file's text as UTF-8 (read as
/// readInputText reads it) and the command takes --encoding.
void addTextToTextCommand(
    CLI::App& app, const std::string& name, const std::string& description,
    const std::string& fileHelp, const std::string& example,
    std::function<std::string(const std::filesystem::path&, const std::string& text)> transform);

/// Writes `text` atomically to `output`, or to stdout when `output` is empty or "-"; a failed
/// write ends the command with its message. Call claimOutput first.
void writeOrPrint(const std::string& output, std::string_view text);

}  // namespace quillora::cli
