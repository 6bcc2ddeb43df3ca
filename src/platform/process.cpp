#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

extern char** environ;

namespace quillora {
namespace {

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

std::pair<Descriptor, Descriptor> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw ProcessLaunchError(std::string("无法创建管道: ") + std::strerror(errno));
    }
    return {Descriptor(fds[0]), Descriptor(fds[1])};
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

}  // namespace

std::optional<std::filesystem::path> findExecutable(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos) {
        if (isExecutableFile(name)) return std::filesystem::path(name);
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const auto candidate = std::filesystem::path(dir) / name;
        if (isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
    const auto executable = findExecutable(program);
    if (!executable) throw ProcessLaunchError("找不到可执行程序: " + program);

    auto [outRead, outWrite] = makePipe();
    auto [errRead, errWrite] = makePipe();
    // Standard input is a socket so that writing to a program that stopped reading fails with
    // EPIPE (MSG_NOSIGNAL) instead of raising SIGPIPE in this process.
    Descriptor inParent, inChild;
    if (options.standardInput) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            throw ProcessLaunchError(std::string("无法创建管道: ") + std::strerror(errno));
        }
        inParent = Descriptor(fds[0]);
        inChild = Descriptor(fds[1]);
    }

    FileActions files;
    if (inChild) {
        posix_spawn_file_actions_adddup2(&files.actions, inChild.get(), STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&files.actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files.actions, errWrite.get(), STDERR_FILENO);

    // Its own process group, so that a stop ends helpers it started too; default signal
    // handling, whatever this process ignores or blocks.
    SpawnAttributes attributes;
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigmask(&attributes.attributes, &none);
    posix_spawnattr_setsigdefault(&attributes.attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes.attributes, 0);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSIGMASK |
                                                         POSIX_SPAWN_SETSIGDEF |
                                                         POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> argvStrings;
    argvStrings.reserve(arguments.size() + 1);
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argvStrings)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, executable->c_str(), &files.actions,
                                      &attributes.attributes, argv.data(), environ);
    if (spawned != 0) {
        throw ProcessLaunchError("无法启动 " + program + ": " + std::strerror(spawned));
    }
    outWrite.reset();
    errWrite.reset();
    inChild.reset();

    ProcessResult result;
    const std::string input = options.standardInput.value_or("");
    size_t inputSent = 0;
    if (inParent && input.empty()) inParent.reset();

    const auto started = std::chrono::steady_clock::now();
    const bool limited = options.timeLimit.count() > 0;
    const bool stoppable = options.stopToken.stop_possible() || limited;
    auto mustStop = [&] {
        return options.stopToken.stop_requested() ||
               (limited && std::chrono::steady_clock::now() - started >= options.timeLimit);
    };
    auto killGroup = [&] {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        result.stopped = true;
    };

    char buffer[65536];
    while (outRead || errRead || inParent) {
        if (stoppable && mustStop()) {
            killGroup();
            break;
        }
        pollfd fds[3];
        nfds_t count = 0;
        if (outRead) fds[count++] = {outRead.get(), POLLIN, 0};
        if (errRead) fds[count++] = {errRead.get(), POLLIN, 0};
        if (inParent) fds[count++] = {inParent.get(), POLLOUT, 0};
        const int ready = ::poll(fds, count, stoppable ? 50 : -1);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (inParent && fds[i].fd == inParent.get()) {
                const ssize_t sent = ::send(inParent.get(), input.data() + inputSent,
                                            input.size() - inputSent, MSG_NOSIGNAL);
                if (sent > 0) inputSent += static_cast<size_t>(sent);
                if ((sent < 0 && errno != EINTR && errno != EAGAIN) || inputSent == input.size()) {
                    inParent.reset();
                }
                continue;
            }
            Descriptor& source = fds[i].fd == outRead.get() ? outRead : errRead;
            std::string& sink =
                fds[i].fd == outRead.get() ? result.standardOutput : result.standardError;
            const ssize_t got = ::read(source.get(), buffer, sizeof buffer);
            if (got > 0) {
                sink.append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                source.reset();
            }
        }
    }

    int waitStatus = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &waitStatus, stoppable ? WNOHANG : 0);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            waitStatus = 0;
            break;
        }
        if (done == 0) {
            if (!result.stopped && mustStop()) killGroup();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    result.exitStatus = statusOf(waitStatus);
    return result;
}

}  // namespace quillora
