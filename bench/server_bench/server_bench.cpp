// The reference server under slow clients: SLOW connections (spread over a few loopback
// addresses, each sending one header line every 2 s, as a slow-header attack does) are opened
// first, then NORMAL result requests are sent from 127.0.0.1 by 50 client threads. Reports how
// many slow connections the server holds, and the latency of every normal request against the
// same requests sent with no slow connections open (the peer, measured in the same run).
//
// Then password guessing: wrong passwords for one account sent back to back for GUESS seconds,
// counting how many the server checked and how many it refused with 429; and the answer time of
// a wrong password for an existing and for an unknown account name (a server whose throttle
// lets every guess through, so that only the checking is timed).
//
// Usage: server_bench [--slow 200] [--normal 200] [--guess 60]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "contract/platform_contract.h"
#include "platform/console.h"
#include "server/platform_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kClientThreads = 50;
constexpr int kSlowAddresses = 4;  // 127.0.0.2 to .5, within the default cap per address

int openSlow(int port, int index) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    const std::string source = "127.0.0." + std::to_string(2 + index % kSlowAddresses);
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("slow connection");
        std::exit(1);
    }
    const char* head = "GET /srt/slow.srt HTTP/1.1\r\n";
    ::send(fd, head, std::strlen(head), MSG_NOSIGNAL);
    return fd;
}

// True while the server has neither answered nor closed the connection.
bool stillHeld(int fd) {
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 0;
}

struct Latencies {
    std::vector<double> seconds;
    int answered = 0;
    double wall = 0;
};

Latencies sendNormalRequests(int port, int count) {
    Latencies result;
    std::mutex mutex;
    std::atomic<int> next{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kClientThreads; ++t) {
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(10, 0);
            client.set_keep_alive(false);
            while (next++ < count) {
                const auto sent = Clock::now();
                auto reply = client.Get("/srt/Nope.srt");
                const double took = std::chrono::duration<double>(Clock::now() - sent).count();
                std::lock_guard lock(mutex);
                result.seconds.push_back(took);
                if (reply && reply->status == 404) ++result.answered;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    result.wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(result.seconds.begin(), result.seconds.end());
    return result;
}

std::string loginTarget(const std::string& name, const std::string& password) {
    return std::string("/api/dssrtuserlogin?username=") + quillora::contract::kOperatorAccount +
           "&password=" + quillora::contract::kOperatorPassword +
           "&token=" + quillora::contract::dailyToken(std::chrono::system_clock::now()) +
           "&srtusername=" + name + "&srtpassword=" + password;
}

quillora::server::ServerConfig configIn(const fs::path& folder) {
    quillora::server::ServerConfig config;
    config.dataDirectory = folder;
    config.alignWorkers = 1;
    return config;
}

// Starts `server` with one account of that name on a free loopback port; returns the port.
int startWithAccount(quillora::server::PlatformServer& server, const std::string& name) {
    quillora::server::NewAccount account;
    account.name = name;
    account.password = "correct-horse";
    server.accounts().addAccount(account);
    const int port = server.bind("127.0.0.1", 0);
    server.start();
    return port;
}

void measureGuessing(const fs::path& data, int seconds) {
    quillora::server::PlatformServer server(configIn(data / "guessing"));
    httplib::Client client("127.0.0.1", startWithAccount(server, "victim"));
    client.set_keep_alive(true);
    int checked = 0;
    int refused = 0;
    int firstMinute = 0;
    const auto start = Clock::now();
    for (int guess = 0; Clock::now() - start < std::chrono::seconds(seconds); ++guess) {
        auto reply = client.Get(loginTarget("victim", "guess" + std::to_string(guess)).c_str());
        if (!reply) continue;
        if (reply->status == 429) {
            ++refused;
        } else {
            ++checked;
            if (Clock::now() - start < std::chrono::minutes(1)) ++firstMinute;
        }
    }
    std::printf(
        "guessing one account for %d s: %d guesses checked (%d in the first minute), "
        "%d refused with 429\n",
        seconds, checked, firstMinute, refused);
    server.stop();
}

void measureNameTiming(const fs::path& data) {
    quillora::server::ServerConfig config = configIn(data / "timing");
    config.accountThrottle.freeFailures = 1 << 30;
    config.addressThrottle.freeFailures = 1 << 30;
    quillora::server::PlatformServer server(config);
    httplib::Client client("127.0.0.1", startWithAccount(server, "known"));
    // Alternating the two names lets a change in the machine's load touch both alike.
    std::vector<double> known;
    std::vector<double> unknown;
    for (int i = 0; i < 41; ++i) {
        for (const auto& [name, took] :
             {std::pair{"known", &known}, std::pair{"unknown", &unknown}}) {
            const auto sent = Clock::now();
            client.Get(loginTarget(name, "wrong").c_str());
            took->push_back(std::chrono::duration<double>(Clock::now() - sent).count());
        }
    }
    const auto median = [](std::vector<double>& took) {
        std::sort(took.begin(), took.end());
        return took[took.size() / 2];
    };
    const double knownMedian = median(known);
    const double unknownMedian = median(unknown);
    std::printf(
        "wrong password, median of 41: known name %.1f ms, unknown name %.1f ms "
        "(ratio %.2f)\n",
        knownMedian * 1e3, unknownMedian * 1e3, unknownMedian / knownMedian);
    server.stop();
}

void report(const char* what, const Latencies& run, int count) {
    const auto at = [&](double q) {
        return run.seconds.empty()
                   ? 0.0
                   : run.seconds[static_cast<std::size_t>(q * (run.seconds.size() - 1))];
    };
    std::printf(
        "%-22s answered %3d/%d  median %6.1f ms  p99 %6.1f ms  max %6.1f ms  all in %.2f s\n", what,
        run.answered, count, at(0.5) * 1e3, at(0.99) * 1e3, at(1.0) * 1e3, run.wall);
}

}  // namespace

int main(int argc, char** argv) {
    int slowCount = 200;
    int normalCount = 200;
    int guessSeconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--slow") == 0) slowCount = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--normal") == 0) normalCount = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--guess") == 0) guessSeconds = std::atoi(argv[i + 1]);
    }
    quillora::setConsoleSink([](std::string_view) {});
    const fs::path data =
        fs::temp_directory_path() / ("server-bench-" + std::to_string(::getpid()));
    quillora::server::ServerConfig config;
    config.dataDirectory = data;
    config.alignWorkers = 1;
    int port = 0;
    {
        quillora::server::PlatformServer server(config);
        port = server.bind("127.0.0.1", 0);
        server.start();

        const Latencies peer = sendNormalRequests(port, normalCount);

        std::vector<int> slow;
        for (int i = 0; i < slowCount; ++i)
            slow.push_back(openSlow(port, i));
        std::atomic<bool> done{false};
        std::thread trickler([&] {
            // One more header line every 2 s on every slow connection.
            while (!done) {
                for (int i = 0; i < 20 && !done; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                for (const int fd : slow)
                    ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const Latencies underAttack = sendNormalRequests(port, normalCount);
        const auto held = std::count_if(slow.begin(), slow.end(), stillHeld);
        done = true;
        trickler.join();

        std::printf("slow connections opened %d, held open by the server %zd\n", slowCount,
                    static_cast<std::ptrdiff_t>(held));
        report("no slow connections", peer, normalCount);
        report("with slow connections", underAttack, normalCount);
        if (!peer.seconds.empty() && !underAttack.seconds.empty()) {
            std::printf("max latency ratio (slow / none): %.2f\n",
                        underAttack.seconds.back() / peer.seconds.back());
        }
        for (const int fd : slow)
            ::close(fd);
        server.stop();
    }
    measureNameTiming(data);
    if (guessSeconds > 0) measureGuessing(data, guessSeconds);
    std::error_code ec;
    fs::remove_all(data, ec);
    return 0;
}
