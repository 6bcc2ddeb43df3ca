// Runs quillora-cli's account commands against the quillora-platform binary on a free port.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "service/stub_server.h"
#include "support/temp_home.h"

extern char** environ;

namespace quillora {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The platform binary with its data in a temporary folder, stopped with SIGTERM at the end.
class PlatformProcess {
  public:
    explicit PlatformProcess(const fs::path& folder) : log_(folder / "platform.log") {
        const std::string binary = (testing::binaryDir() / "src/server/quillora-platform").string();
        if (!fs::exists(binary)) throw std::runtime_error("not built: " + binary);
        const std::string data = (folder / "platform").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> args = {binary,   "--listen", "127.0.0.1:0",
                                         "--data", data,       "--demo"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start the platform");
        const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::smatch match;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text = readAll(log_);
            if (std::regex_search(text, match, listening)) {
                port_ = std::stoi(match[1]);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        throw std::runtime_error("platform did not start: " + readAll(log_));
    }
    ~PlatformProcess() { stop(); }

    int stop() {
        if (pid_ <= 0) return exitCode_;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_;
    }
    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string log() const { return readAll(log_); }

  private:
    fs::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
    int exitCode_ = -1;
};

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

CliResult quillora(const fs::path& folder, const std::string& arguments) {
    const fs::path binary = testing::binaryDir() / "src/cli/quillora-cli";
    const fs::path out = folder / "cli.out";
    const fs::path err = folder / "cli.err";
    const std::string command = "'" + binary.string() + "' " + arguments + " >'" + out.string() +
                                "' 2>'" + err.string() + "'";
    // bash, for the here-strings some runs feed stdin with.
    const int status = std::system(("bash -c " + shellQuoted(command)).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(out), readAll(err)};
}

TEST(SessionCli, LoginWhoamiPollLogoutAgainstThePlatformBinary) {
    testing::TempHome home;
    PlatformProcess platform(home.path());
    EXPECT_NE(platform.log().find("demo1234"), std::string::npos) << "demo password printed";
    ::setenv("QUILLORA_API_URL", platform.url().c_str(), 1);
    ::setenv("QUILLORA_TASK_URL", platform.url().c_str(), 1);

    const CliResult before = quillora(home.path(), "whoami");
    EXPECT_EQ(before.exitCode, 1);
    EXPECT_NE(before.err.find("未登录"), std::string::npos);

    const CliResult wrong = quillora(home.path(), "login demo nope");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("用户名或密码错误"), std::string::npos) << wrong.err;

    // No password given and stdin not a terminal: a usage error, not a prompt nobody sees.
    EXPECT_EQ(quillora(home.path(), "login demo </dev/null").exitCode, 2);
    // From stdin, and never shown by --verbose.
    const CliResult login =
        quillora(home.path(), "login demo --password-stdin --verbose <<< demo1234");
    EXPECT_EQ(login.exitCode, 0) << login.err;
    EXPECT_EQ(login.out, "已登录: demo\n");
    EXPECT_NE(login.err.find("dssrtuserlogin"), std::string::npos) << login.err;
    EXPECT_EQ(login.err.find("demo1234"), std::string::npos) << login.err;

    const CliResult whoami = quillora(home.path(), "whoami");
    EXPECT_EQ(whoami.exitCode, 0) << whoami.err;
    EXPECT_NE(whoami.out.find("用户: demo\n"), std::string::npos) << whoami.out;
    EXPECT_NE(whoami.out.find("余额: 100.00 (上次登录或扣费时的余额)\n"), std::string::npos)
        << whoami.out;
    EXPECT_NE(whoami.out.find("字幕价格(每分钟): 1.00\n"), std::string::npos) << whoami.out;

    const CliResult poll = quillora(home.path(), "poll");
    EXPECT_EQ(poll.exitCode, 0) << poll.err;
    EXPECT_EQ(poll.out, "检查任务: 0，完成: 0，未完成: 0\n");

    EXPECT_EQ(quillora(home.path(), "logout").exitCode, 0);
    EXPECT_EQ(quillora(home.path(), "whoami").exitCode, 1);

    EXPECT_EQ(platform.stop(), 0) << "clean shutdown on SIGTERM";
    EXPECT_NE(platform.log().find("GET /api/dssrtuserlogin 200"), std::string::npos);
    EXPECT_EQ(platform.log().find("demo1234&"), std::string::npos) << "no passwords in the log";
    ::unsetenv("QUILLORA_API_URL");
    ::unsetenv("QUILLORA_TASK_URL");
}

// A hostile platform: escape sequences in the account's phone and an enormous refusal.
TEST(SessionCli, ServerTextReachesTheTerminalWithoutControlsAndCut) {
    testing::TempHome home;
    testing::StubServer stub;
    ::setenv("QUILLORA_API_URL", stub.baseURL().c_str(), 1);
    stub.reply(200, R"({"success":true,"user":{"userid":7,"phone":")" + std::string("\\u001b") +
                        "]0;owned\\u0007\\u001b]52;c;cm0gLXJmIH4=\\u0007\"}}");
    ASSERT_EQ(quillora(home.path(), "login u p").exitCode, 0);
    const CliResult whoami = quillora(home.path(), "whoami");
    EXPECT_EQ(whoami.exitCode, 0) << whoami.err;
    EXPECT_NE(whoami.out.find("手机: \\x1b]0;owned\\x07\\x1b]52;c;cm0gLXJmIH4=\\x07\n"),
              std::string::npos)
        << whoami.out;

    stub.reply(200, R"({"success":false,"msg":")" + std::string(3 << 20, 'x') + "\\u001b[2J\"}");
    const CliResult refused = quillora(home.path(), "login u p");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_LT(refused.err.size(), 4000u);
    EXPECT_EQ(refused.err.find('\x1b'), std::string::npos);
    ::unsetenv("QUILLORA_API_URL");
}

TEST(SessionCli, SubmitRunsTheTaskAndTasksListsAndDeletesIt) {
    testing::TempHome home;
    PlatformProcess platform(home.path());
    ::setenv("QUILLORA_API_URL", platform.url().c_str(), 1);
    ::setenv("QUILLORA_TASK_URL", platform.url().c_str(), 1);
    const fs::path script = home.path() / "talk.txt";
    const fs::path recording = home.path() / "talk.wav";
    testing::writeTestFile(script, "大家好。\n我们开始吧。\n");
    ASSERT_EQ(std::system(("espeak-ng -v cmn -w '" + recording.string() +
                           "' '大家好。我们开始吧。' >/dev/null 2>&1")
                              .c_str()),
              0);
    ASSERT_EQ(quillora(home.path(), "login demo demo1234").exitCode, 0);

    const CliResult refused =
        quillora(home.path(), "submit missing.txt '" + recording.string() + "'");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("找不到文件: missing.txt"), std::string::npos) << refused.err;

    const CliResult submit = quillora(
        home.path(), "submit '" + script.string() + "' '" + recording.string() + "' --wait");
    EXPECT_EQ(submit.exitCode, 0) << submit.out << submit.err;
    for (const char* line : {"成功添加一条新任务！（序号 1）\n", "状态: 文本处理完成\n",
                             "状态: 处理中 75%\n", "字幕已写入: "}) {
        EXPECT_NE(submit.out.find(line), std::string::npos) << line << "\n" << submit.out;
    }
    EXPECT_TRUE(fs::exists(home.path() / "talk.srt"));

    const CliResult table = quillora(home.path(), "tasks");
    EXPECT_NE(table.out.find("序号  音视频    文本      时长(分钟)"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("1     talk.wav  talk.txt  0"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("处理成功  2\n"), std::string::npos) << table.out;
    const CliResult json = quillora(home.path(), "tasks --json");
    EXPECT_NE(json.out.find("\"status\": \"处理成功\""), std::string::npos) << json.out;

    const CliResult deleted = quillora(home.path(), "tasks delete 1 7");
    EXPECT_EQ(deleted.exitCode, 1);
    EXPECT_EQ(deleted.out, "已删除任务 1\n");
    EXPECT_NE(deleted.err.find("没有这些序号的任务: 7"), std::string::npos) << deleted.err;
    EXPECT_EQ(quillora(home.path(), "tasks").out, "暂无数据\n");
    ::unsetenv("QUILLORA_API_URL");
    ::unsetenv("QUILLORA_TASK_URL");
}

TEST(SessionCli, PlatformAdminCommandsManageAccounts) {
    testing::TempDir dir;
    const std::string binary = (testing::binaryDir() / "src/server/quillora-platform").string();
    const std::string data = " --data '" + (dir / "p").string() + "' ";
    const auto run = [&](const std::string& arguments) {
        const std::string command =
            "'" + binary + "'" + data + arguments + " >'" + (dir / "o").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(dir / "o"));
    };
    EXPECT_EQ(run("user add bob secret --balance 3 --phone 139").first, 0);
    // One clear line each; 1 for a refused request, 2 for a usage error.
    const std::pair<const char*, std::pair<int, const char*>> refusals[] = {
        {"user add bob other", {1, "quillora-platform: 用户 bob 已存在\n"}},
        {"user topup bob -5", {2, "充值金额必须大于 0"}},
        {"user topup bob 0", {2, "充值金额必须大于 0"}},
        {"--listen nowhere", {2, "HOST:PORT"}},
    };
    for (const auto& [arguments, expected] : refusals) {
        const auto [code, output] = run(arguments);
        EXPECT_EQ(code, expected.first) << arguments << ": " << output;
        EXPECT_NE(output.find(expected.second), std::string::npos) << arguments << ": " << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << arguments << ": " << output;
    }
    EXPECT_EQ(run("user nonsense").first, 2);
    EXPECT_EQ(run("user topup bob 2.5").second, "Balance of bob is now 5.50\n");
    EXPECT_NE(run("user topup nobody 1").first, 0);
    const auto list = run("user list");
    EXPECT_NE(list.second.find("bob\t5.50"), std::string::npos) << list.second;
    EXPECT_EQ(list.second.find("secret"), std::string::npos);
    // The data folder may also follow the account command, as the help's examples write it.
    const std::string after =
        "'" + binary + "' user list" + data + ">'" + (dir / "o").string() + "' 2>&1";
    EXPECT_EQ(std::system(after.c_str()), 0) << readAll(dir / "o");
    EXPECT_NE(readAll(dir / "o").find("bob\t5.50"), std::string::npos) << readAll(dir / "o");
}

// A second server on a port in use refuses to start instead of sharing the traffic.
TEST(SessionCli, PlatformRefusesAPortInUse) {
    testing::TempHome home;
    PlatformProcess first(home.path());
    const std::string binary = (testing::binaryDir() / "src/server/quillora-platform").string();
    const std::string command =
        "timeout 20 '" + binary + "' --listen 127.0.0.1:" + std::to_string(first.port()) +
        " --data '" + (home.path() / "second").string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
}

}  // namespace
}  // namespace quillora
