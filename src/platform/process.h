#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/error.h"

namespace quillora {

/// A program that could not be started (not found, not executable, no resources).
class ProcessLaunchError : public Error {
  public:
    using Error::Error;
};

/// What a finished program left: its exit status and everything it wrote.
struct ProcessResult {
    /// The program's exit status; 128 + the signal number when a signal ended it.
    int exitStatus = 0;
    /// True when the run was ended through the stop token or the time limit.
    bool stopped = false;
    std::string standardOutput;
    std::string standardError;
};

struct ProcessOptions {
    /// Requesting stop kills the program (and everything it started) and returns at once.
    std::stop_token stopToken;
    /// Kills the program when it runs longer; zero means no limit.
    std::chrono::milliseconds timeLimit{0};
    /// Bytes written to the program's standard input, which is then closed (/dev/null if unset).
    std::optional<std::string> standardInput;
};

/// Runs `program` (a path, or a name looked up on PATH) with `arguments`, capturing standard
/// output and standard error, and waits for it. Throws ProcessLaunchError when it cannot start.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

/// The executable file `name` names: itself when it holds a slash, else the first match on PATH.
std::optional<std::filesystem::path> findExecutable(const std::string& name);

}  // namespace quillora
