#include "server/guarded_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace quillora::server {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Threads beyond the connection cap, so that connections over it are refused at once rather
// than queued behind the admitted ones.
constexpr std::size_t kSpareThreads = 32;
constexpr std::size_t kReadBufferSize = 4096;

/// Grows a thread for each waiting connection up to a ceiling; threads stay until shutdown.
class GrowingThreadPool : public httplib::TaskQueue {
  public:
    explicit GrowingThreadPool(std::size_t ceiling) : ceiling_(ceiling) {}

    void enqueue(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ < jobs_.size() && threads_.size() < ceiling_) {
            threads_.emplace_back([this] { work(); });
        }
        wake_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        // No thread is added once stopping: the accept loop that enqueues has ended.
        for (auto& thread : threads_)
            thread.join();
    }

  private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                ++idle_;
                wake_.wait(lock, [&] { return !jobs_.empty() || stopping_; });
                --idle_;
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::size_t ceiling_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

std::pair<std::string, int> socketAddress(socket_t sock, bool peer) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(sock, generic, &length) : ::getsockname(sock, generic, &length)) !=
        0) {
        return {"", 0};
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return {text, ntohs(v4->sin_port)};
    }
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return {text, ntohs(v6->sin6_port)};
    }
    return {"", 0};
}

/// One connection's byte stream with the deadlines of the request being served: the head must
/// arrive whole by its deadline; a body and its reply may take as long as they keep moving at
/// the least rate; no read or write waits longer than the idle limit.
class DeadlineStream : public httplib::Stream {
  public:
    DeadlineStream(socket_t sock, const ConnectionLimits& limits)
        : sock_(sock), limits_(limits), buffer_(kReadBufferSize) {}

    /// Waits for the next request to start; false when the client stays silent or leaves.
    bool waitForRequest() {
        if (begin_ < end_) return true;
        pollfd waiting{sock_, POLLIN, 0};
        return ::poll(&waiting, 1, static_cast<int>(limits_.keepAliveTimeout.count())) > 0;
    }
    void beginHead() {
        deadline_ = Clock::now() + limits_.headDeadline;
        inBody_ = false;
    }
    void beginBody() {
        bodyStart_ = Clock::now();
        bodyBytes_ = 0;
        inBody_ = true;
        deadline_ = bodyStart_ + limits_.bodyGrace;
    }
    /// True once a deadline has cut the request short: the connection must end.
    bool expired() const { return expired_; }

    bool is_readable() const override { return begin_ < end_ || waitFor(POLLIN); }
    bool is_writable() const override { return waitFor(POLLOUT); }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            const ssize_t got = receive();
            if (got <= 0) return got;
        }
        const std::size_t count = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, count);
        begin_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            if (!waitFor(POLLOUT)) return -1;
            const ssize_t sent = ::send(sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                progressed(static_cast<std::size_t>(sent));
                return sent;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        std::tie(ip, port) = socketAddress(sock_, true);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        std::tie(ip, port) = socketAddress(sock_, false);
    }
    socket_t socket() const override { return sock_; }

  private:
    ssize_t receive() {
        for (;;) {
            if (!waitFor(POLLIN)) return -1;
            const ssize_t got = ::recv(sock_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
            if (got >= 0) {
                begin_ = 0;
                end_ = static_cast<std::size_t>(got);
                progressed(end_);
                return got;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        }
    }

    // A body or reply that moves earns more time: the grace plus one second per
    // minBodyRate bytes.
    void progressed(std::size_t bytes) {
        if (!inBody_) return;
        bodyBytes_ += bytes;
        const auto earned = milliseconds(static_cast<long long>(
            bodyBytes_ * 1000 / std::max<std::size_t>(1, limits_.minBodyRate)));
        deadline_ = bodyStart_ + limits_.bodyGrace + earned;
    }

    bool waitFor(short events) const {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        const auto wait = std::min(left, limits_.idleTimeout);
        if (wait.count() <= 0) {
            expired_ = true;
            return false;
        }
        pollfd waiting{sock_, events, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(wait.count()));
        if (ready > 0) return true;
        if (ready == 0) expired_ = true;
        return false;
    }

    socket_t sock_;
    const ConnectionLimits& limits_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    Clock::time_point deadline_ = Clock::now();
    Clock::time_point bodyStart_{};
    std::size_t bodyBytes_ = 0;
    bool inBody_ = false;
    mutable bool expired_ = false;
};

}  // namespace

GuardedHttpServer::GuardedHttpServer(const ConnectionLimits& limits) : limits_(limits) {
    const std::size_t threads = limits_.maxConnections + kSpareThreads;
    new_task_queue = [threads] { return new GrowingThreadPool(threads); };
    set_keep_alive_max_count(limits_.keepAliveRequests);
}

void GuardedHttpServer::widenBacklog() {
    const socket_t listening = svr_sock_;
    if (listening != INVALID_SOCKET) ::listen(listening, SOMAXCONN);
}

void GuardedHttpServer::closeConnections() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    // Wakes every thread waiting on its client; each then closes its own socket.
    for (const socket_t sock : open_)
        ::shutdown(sock, SHUT_RDWR);
}

std::size_t GuardedHttpServer::openConnections() {
    std::lock_guard lock(mutex_);
    return open_.size();
}

bool GuardedHttpServer::admit(socket_t sock, const std::string& address) {
    const char* refusal = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::size_t& fromAddress = perAddress_[address];
        if (closing_ || open_.size() >= limits_.maxConnections) {
            refusal = "服务器繁忙，请稍后再试";
        } else if (fromAddress >= limits_.maxPerAddress) {
            refusal = "来自同一地址的连接过多，请稍后再试";
        } else {
            ++fromAddress;
            open_.insert(sock);
            return true;
        }
        if (fromAddress == 0) perAddress_.erase(address);
    }
    refuse(sock, address, refusal);
    return false;
}

void GuardedHttpServer::release(socket_t sock, const std::string& address) {
    std::lock_guard lock(mutex_);
    open_.erase(sock);
    auto it = perAddress_.find(address);
    if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
}

void GuardedHttpServer::refuse(socket_t sock, const std::string& address, const char* message) {
    const std::string body = std::string(R"({"status":503,"message":")") + message + "\"}";
    const std::string reply =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + body;
    // One try without waiting: a client that does not read loses the explanation, not a thread.
    [[maybe_unused]] const ssize_t sent =
        ::send(sock, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    // A flood would flood the log too: one line, then at most one summary every 10 s.
    std::size_t skipped = 0;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        if (now - lastRefusalLog_ < std::chrono::seconds(10)) {
            ++refusalsNotLogged_;
            return;
        }
        lastRefusalLog_ = now;
        skipped = std::exchange(refusalsNotLogged_, 0);
    }
    console("⚠️ 拒绝连接 " + address + ": " + message +
            (skipped ? "（此前另有 " + std::to_string(skipped) + " 个连接被拒绝）" : ""));
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
    const std::string address = socketAddress(sock, true).first;
    if (!admit(sock, address)) return false;
    DeadlineStream stream(sock, limits_);
    std::size_t left = limits_.keepAliveRequests;
    while (svr_sock_ != INVALID_SOCKET && left > 0 && stream.waitForRequest()) {
        stream.beginHead();
        bool closed = false;
        const bool served = process_request(stream, left == 1, closed,
                                            [&](httplib::Request&) { stream.beginBody(); });
        if (!served || closed || stream.expired()) break;
        --left;
    }
    release(sock, address);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

}  // namespace quillora::server
