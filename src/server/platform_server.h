#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "server/account_store.h"
#include "server/aligner.h"
#include "server/sign_in_throttle.h"

namespace quillora::server {

/// How the server shares itself among clients, so that slow or greedy ones cannot starve the
/// rest.
struct ConnectionLimits {
    /// Connections served at once (a thread each); more are refused with 503.
    std::size_t maxConnections = 512;
    /// Connections served at once for one client address.
    std::size_t maxPerAddress = 64;
    /// A request head must arrive whole within this time from its first byte.
    std::chrono::milliseconds headDeadline{10'000};
    /// A body and its reply get this long, plus one second per `minBodyRate` bytes moved.
    std::chrono::milliseconds bodyGrace{30'000};
    std::size_t minBodyRate = 8 * 1024;
    /// No single read or write waits longer than this.
    std::chrono::milliseconds idleTimeout{30'000};
    /// How long an idle connection waits for its next request, and how many it may send.
    std::chrono::milliseconds keepAliveTimeout{5'000};
    std::size_t keepAliveRequests = 100;
};

/// Settings of one server instance.
struct ServerConfig {
    std::filesystem::path dataDirectory;
    /// Largest request body accepted (the upload), in bytes.
    std::size_t maxUploadBytes = std::size_t{2} << 30;
    /// Builds the aligner of each worker; the speech aligner when empty.
    std::function<std::unique_ptr<Aligner>()> alignerFactory;
    /// Tasks aligned at the same time; 0 = one per processor core.
    unsigned alignWorkers = 0;
    /// Failed sign-ins and charges allowed per account and per client address.
    ThrottlePolicy accountThrottle;
    ThrottlePolicy addressThrottle{20, std::chrono::seconds(1), std::chrono::minutes(15),
                                   std::chrono::minutes(30)};
    ConnectionLimits connections;
};

/// $XDG_DATA_HOME/quillora-platform (default ~/.local/share/quillora-platform).
std::filesystem::path defaultServerDataDirectory();

/// The reference platform: sign-in and charging, upload, task start, alignment on a pool of
/// worker threads and result files, in one process.
class PlatformServer {
  public:
    explicit PlatformServer(ServerConfig config);
    ~PlatformServer();
    PlatformServer(const PlatformServer&) = delete;
    PlatformServer& operator=(const PlatformServer&) = delete;

    AccountStore& accounts();

    /// Binds the listening socket; port 0 picks a free one. Returns the port; throws Error.
    int bind(const std::string& host, int port);
    /// Serves until stop(); call after bind().
    void run();
    /// Serves on a thread of its own until stop() (tests).
    void start();
    /// Stops serving and the alignment worker; safe from any thread, more than once.
    void stop();

    /// The folder of one task's files.
    std::filesystem::path taskDirectory(const std::string& taskid) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// SRT text of the lines at the given times ("1\n00:00:00,000 --> ...\nline\n\n...").
std::string formatSrt(const std::vector<std::string>& lines, const std::vector<LineTiming>& ranges);

/// The script's cue lines: every non-empty line, in order, as uploaded (without line ends).
std::vector<std::string> scriptLines(const std::string& script);

}  // namespace quillora::server
