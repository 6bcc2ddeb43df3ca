#pragma once

// A reference platform server on a free loopback port with its data in a temporary folder,
// plus helpers shared by the server and client tests.

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "server/platform_server.h"
#include "support/temp_home.h"

namespace quillora::testing {

class TestPlatform {
  public:
    explicit TestPlatform(server::ServerConfig config = {}) {
        config.dataDirectory = dir_.path() / "platform";
        server_ = std::make_unique<server::PlatformServer>(std::move(config));
        port_ = server_->bind("127.0.0.1", 0);
        server_->start();
    }
    ~TestPlatform() { server_->stop(); }

    server::PlatformServer& server() { return *server_; }
    server::AccountStore& accounts() { return server_->accounts(); }
    int port() const { return port_; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::filesystem::path dataDirectory() const { return dir_.path() / "platform"; }
    std::filesystem::path scratch() const { return dir_.path(); }

    /// A raw client of this server (no URL normalisation, for hostile paths).
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(30, 0);
        return c;
    }

    /// GETs the result path until the body stops being "steps/..." (or the time runs out).
    std::string waitForResult(const std::string& taskid,
                              std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string body;
        while (std::chrono::steady_clock::now() < deadline) {
            auto reply = client().Get(("/srt/" + taskid + ".srt").c_str());
            if (reply && reply->status == 200) {
                body = reply->body;
                if (body.rfind("steps/", 0) != 0) return body;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return body;
    }

  private:
    TempDir dir_;
    std::unique_ptr<server::PlatformServer> server_;
    int port_ = 0;
};

/// An account named alice with every field set; tests pick the password and balance.
inline server::NewAccount aliceAccount(const std::string& password, double balance = 20) {
    server::NewAccount account;
    account.name = "alice";
    account.password = password;
    account.balance = balance;
    account.phone = "13900000001";
    account.zimu = 2.5;
    account.shijianzhou = 1.5;
    account.paytype = 1;
    return account;
}

/// Runs a shell command (ffmpeg, espeak-ng) and tells whether it succeeded.
inline bool runCommand(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

/// An M4A of `segments` tones of `toneSeconds`, each followed by `pauseSeconds` of silence.
inline std::filesystem::path makeTonePattern(const std::filesystem::path& file, int segments,
                                             double toneSeconds, double pauseSeconds) {
    const double period = toneSeconds + pauseSeconds;
    const std::string expression = "if(lt(mod(t\\," + std::to_string(period) + ")\\," +
                                   std::to_string(toneSeconds) +
                                   ")\\,0.5*sin(2*PI*440*t)\\,0.0005*sin(2*PI*50*t))";
    const std::string command = "ffmpeg -nostdin -y -f lavfi -i \"aevalsrc=" + expression +
                                ":s=16000:d=" + std::to_string(segments * period) +
                                "\" -c:a aac \"" + file.string() + "\"";
    if (!runCommand(command)) throw std::runtime_error("ffmpeg could not make " + file.string());
    return file;
}

}  // namespace quillora::testing
