#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "platform/error.h"

namespace quillora::cli {

/// Exit codes: 0 success, 1 failure (one message on stderr), 2 usage error.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

/// Thrown by a command to end with exit code 1 and this message on stderr.
class CommandFailure : public Error {
  public:
    using Error::Error;
};

/// Ends a command with exit code 1 after its failures were reported one per line.
class FailuresReported : public CommandFailure {
  public:
    FailuresReported() : CommandFailure("") {}
};

/// A command file adds its subcommands to the app; the callback they set may throw
/// CommandFailure or any other Error, reported the same way.
using CommandInstaller = std::function<void(CLI::App&)>;

/// Registers an installer at static initialisation; see the command_*.cpp files.
struct CommandRegistration {
    explicit CommandRegistration(CommandInstaller installer);
};

void installAllCommands(CLI::App& app);

}  // namespace quillora::cli
