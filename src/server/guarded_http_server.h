#pragma once

// The server's HTTP layer: cpp-httplib's request handling on connections that this class
// admits, times and closes itself. Included only by the server's own sources.

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "server/platform_server.h"

namespace quillora::server {

/// An httplib::Server that keeps answering under slow or greedy clients: a thread for every
/// admitted connection (up to a cap), a cap per client address, a deadline for each request
/// head and a progress-based deadline for each body and reply.
class GuardedHttpServer : public httplib::Server {
  public:
    explicit GuardedHttpServer(const ConnectionLimits& limits);

    /// Lets the kernel queue many pending connections (the library listens with a backlog of
    /// 5). Call after binding.
    void widenBacklog();
    /// Refuses new connections and ends the open ones at once (their threads return).
    void closeConnections();
    /// Connections open now (for tests).
    std::size_t openConnections();

  private:
    bool process_and_close_socket(socket_t sock) override;
    bool admit(socket_t sock, const std::string& address);
    void release(socket_t sock, const std::string& address);
    void refuse(socket_t sock, const std::string& address, const char* message);

    ConnectionLimits limits_;
    std::mutex mutex_;
    bool closing_ = false;
    std::set<socket_t> open_;
    std::map<std::string, std::size_t> perAddress_;
    std::chrono::steady_clock::time_point lastRefusalLog_{};
    std::size_t refusalsNotLogged_ = 0;
};

}  // namespace quillora::server
