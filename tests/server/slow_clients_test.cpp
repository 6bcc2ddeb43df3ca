// Clients that connect and then send slowly, or from one address in numbers, against a server
// with short deadlines and small caps so that the suite stays quick.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/test_platform.h"

namespace quillora::server {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using quillora::testing::TestPlatform;

// A raw TCP connection to the server from a chosen loopback address.
class RawConnection {
  public:
    RawConnection(const char* source, int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            throw std::runtime_error("cannot connect from " + std::string(source));
        }
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    void send(const std::string& bytes) {
        if (!closed_) ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    /// Reads what has arrived; true once the server has closed the connection.
    bool closedByServer() {
        char buffer[4096];
        while (!closed_) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 0) <= 0) break;
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                closed_ = true;
            } else {
                received_.append(buffer, static_cast<std::size_t>(got));
            }
        }
        return closed_;
    }
    const std::string& received() const { return received_; }

  private:
    int fd_;
    bool closed_ = false;
    std::string received_;
};

using Connections = std::vector<std::unique_ptr<RawConnection>>;

// Sends one byte to every connection the server still holds every 50 ms until `until` says stop.
void trickle(Connections& connections, const std::function<bool()>& until,
             std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!until() && Clock::now() < deadline) {
        for (auto& connection : connections) {
            if (!connection->closedByServer()) connection->send("x");
        }
        std::this_thread::sleep_for(50ms);
    }
}

TEST(ServerSlowClients, SlowConnectionsAreCappedPerAddressAndOthersAreStillAnswered) {
    ServerConfig config;
    config.connections.maxPerAddress = 4;
    TestPlatform platform(config);
    // Twelve requests from one address that never finish their heads: four are held, the rest
    // are refused at once.
    Connections slow;
    for (int i = 0; i < 12; ++i) {
        slow.push_back(std::make_unique<RawConnection>("127.0.0.2", platform.port()));
        slow.back()->send("GET /srt/x.srt HTTP/1.1\r\nX-Slow: ");
    }
    const auto refusedCount = [&] {
        int refused = 0;
        for (auto& connection : slow) {
            if (connection->closedByServer() &&
                connection->received().rfind("HTTP/1.1 503", 0) == 0) {
                ++refused;
            }
        }
        return refused;
    };
    trickle(
        slow, [&] { return refusedCount() == 8; }, 20s);
    EXPECT_EQ(refusedCount(), 8);

    // While the held four keep trickling, more clients than the library's own pool of threads
    // are all answered.
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 12; ++i) {
        clients.emplace_back([&] {
            auto client = platform.client();
            client.set_read_timeout(5, 0);
            auto reply = client.Get("/srt/Nope.srt");
            if (reply && reply->status == 404) ++answered;
        });
    }
    std::atomic<bool> done{false};
    std::thread holder([&] {
        trickle(
            slow, [&] { return done.load(); }, 30s);
    });
    for (auto& client : clients)
        client.join();
    done = true;
    holder.join();
    EXPECT_EQ(answered, 12);
    EXPECT_EQ(refusedCount(), 8) << "the held ones stay held while they make progress";
}

TEST(ServerSlowClients, HeadsAndBodiesThatTrickleAreCutAtTheirDeadlines) {
    ServerConfig config;
    config.connections.headDeadline = 1s;
    config.connections.bodyGrace = 1s;
    config.connections.minBodyRate = 1 << 20;
    TestPlatform platform(config);
    Connections connections;
    connections.push_back(std::make_unique<RawConnection>("127.0.0.1", platform.port()));
    connections.back()->send("GET /srt/x.srt HTTP/1.1\r\nX-Slow: ");
    connections.push_back(std::make_unique<RawConnection>("127.0.0.1", platform.port()));
    connections.back()->send(
        "POST /clients/postdata.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
        "boundary=b\r\nContent-Length: 1000000\r\n\r\n--b\r\n");
    const auto start = Clock::now();
    const auto allClosed = [&] {
        return connections[0]->closedByServer() && connections[1]->closedByServer();
    };
    // Without deadlines the server would wait as long as bytes keep coming.
    trickle(connections, allClosed, 15s);
    EXPECT_TRUE(allClosed());
    EXPECT_LT(Clock::now() - start, 10s);
}

}  // namespace
}  // namespace quillora::server
