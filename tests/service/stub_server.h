#pragma once

// A scripted HTTP/1.1 server on a free loopback port, for replies the reference platform never
// gives (HTML errors, arrays, odd charge replies) and for capturing the exact request bytes.
// It speaks just enough HTTP for one request per connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quillora::testing {

struct CapturedRequest {
    std::string method;
    std::string target;  ///< the raw request target, query string as sent
    std::string path;
    std::string contentType;
    std::string body;
};

class StubServer {
  public:
    StubServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, generic, sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, generic, &length) != 0) {
            throw std::runtime_error("stub server cannot listen");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~StubServer() {
        stopping_ = true;
        thread_.join();
        ::close(listener_);
    }

    /// Sets the reply to every later request, sent after `delay` (to keep a client busy).
    void reply(int status, std::string body, std::string contentType = "application/json",
               std::chrono::milliseconds delay = {}) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
        contentType_ = std::move(contentType);
        delay_ = delay;
    }
    /// Leaves the Content-Length out of later replies: the body ends when the connection does.
    void announceLength(bool announce) {
        std::lock_guard lock(mutex_);
        announceLength_ = announce;
    }
    /// Sets the reply to later requests for one path (the query string is not part of it).
    void replyTo(const std::string& path, int status, std::string body) {
        std::lock_guard lock(mutex_);
        pathReplies_[path] = {status, std::move(body)};
    }
    std::vector<CapturedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    void serve() {
        while (!stopping_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0) continue;
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) continue;
            handle(connection);
            ::close(connection);
        }
    }

    void handle(int connection) {
        std::string data;
        char buffer[65536];
        size_t headerEnd = std::string::npos;
        while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            data.append(buffer, static_cast<size_t>(got));
        }
        const std::string head = data.substr(0, headerEnd + 2);
        std::string lowered = head;
        std::transform(head.begin(), head.end(), lowered.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto header = [&](const std::string& name) {
            const size_t at = lowered.find("\r\n" + name + ":");
            if (at == std::string::npos) return std::string();
            const size_t start = head.find_first_not_of(' ', at + name.size() + 3);
            return head.substr(start, head.find("\r\n", start) - start);
        };
        CapturedRequest request;
        std::istringstream(head) >> request.method >> request.target;
        request.path = request.target.substr(0, request.target.find('?'));
        request.contentType = header("content-type");
        const std::string length = header("content-length");
        const size_t contentLength = length.empty() ? 0 : std::stoul(length);
        request.body = data.substr(headerEnd + 4);
        while (request.body.size() < contentLength) {
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.body.append(buffer, static_cast<size_t>(got));
        }
        std::string response;
        std::chrono::milliseconds wait{0};
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            wait = delay_;
            const auto special = pathReplies_.find(request.path);
            const int status = special != pathReplies_.end() ? special->second.first : status_;
            const std::string& body =
                special != pathReplies_.end() ? special->second.second : body_;
            response = "HTTP/1.1 " + std::to_string(status) +
                       " Stub\r\nContent-Type: " + contentType_ +
                       (announceLength_ ? "\r\nContent-Length: " + std::to_string(body.size())
                                        : std::string()) +
                       "\r\nConnection: close\r\n\r\n" + body;
        }
        std::this_thread::sleep_for(wait);
        size_t sent = 0;
        while (sent < response.size()) {
            const ssize_t wrote =
                ::send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (wrote <= 0) break;
            sent += static_cast<size_t>(wrote);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::chrono::milliseconds delay_{0};
    int status_ = 200;
    std::string body_ = "{}";
    std::string contentType_ = "application/json";
    bool announceLength_ = true;
    std::map<std::string, std::pair<int, std::string>> pathReplies_;
    std::vector<CapturedRequest> requests_;
};

/// The URL of a loopback port nobody listens on any more.
inline std::string closedURL() {
    return StubServer().baseURL();
}

}  // namespace quillora::testing
