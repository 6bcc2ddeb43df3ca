// Platform account commands: `login`, `logout`, `whoami` and `poll` (one result-polling pass).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/preferences.h"
#include "service/network_service.h"
#include "service/user_session.h"
#include "store/user_manager.h"
#include "text/numbers.h"
#include "text/printable.h"

namespace quillora::cli {
namespace {

// The service's diagnostic lines (URLs, store messages) go to stderr with --verbose only, so
// stdout carries just the command's answer. The sink stays for the rest of the process: the
// stores report their closing while the program exits.
void routeDiagnostics(bool verbose) {
    setConsoleSink(diagnosticsSink(verbose));
}

struct SessionOptions {
    std::string username;
    std::string password;
    bool passwordFromStdin = false;
    bool remember = false;
    bool verbose = false;
};

// Restores the terminal's echo when the prompt ends, however it ends.
class EchoOff {
  public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    termios saved_{};
    bool active_ = false;
};

// The password: given on the command line, the first line of stdin (--password-stdin), or
// typed at a prompt without echo when stdin is a terminal.
std::string passwordFor(const SessionOptions& options) {
    if (!options.password.empty()) return options.password;
    std::string line;
    if (options.passwordFromStdin) {
        if (!std::getline(std::cin, line)) throw CommandFailure{"标准输入中没有密码"};
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    if (::isatty(STDIN_FILENO) != 1) {
        throw CLI::RequiredError("PASSWORD (or --password-stdin when stdin is not a terminal)");
    }
    std::cerr << "密码: " << std::flush;
    {
        EchoOff quiet;
        std::getline(std::cin, line);
    }
    std::cerr << "\n";
    return line;
}

void installLogin(CLI::App& app) {
    auto options = std::make_shared<SessionOptions>();
    CLI::App* command = app.add_subcommand("login", "Sign in with a platform account");
    command->add_option("USER", options->username, "platform user name")->required();
    auto* password =
        command->add_option("PASSWORD", options->password,
                            "platform password (asked without echo on a terminal when left out)");
    command
        ->add_flag("--password-stdin", options->passwordFromStdin,
                   "read the password from the first line of stdin")
        ->excludes(password);
    command->add_flag("--remember", options->remember, "tick \"记住我\"");
    command->add_flag("--verbose", options->verbose,
                      "print diagnostic lines on stderr (passwords hidden)");
    addExample(command, "printf '%s\\n' \"$PASSWORD\" | quillora-cli login demo --password-stdin");
    command->callback([options] {
        routeDiagnostics(options->verbose);
        const std::string password = passwordFor(*options);
        LoginModel form(NetworkService::shared(), UserManager::shared(), Preferences::shared(),
                        NotificationCenter::shared());
        form.username = options->username;
        form.password = password;
        form.rememberMe = options->remember;
        form.login();
        if (form.showError) throw CommandFailure{form.errorMessage};
        std::cout << "已登录: " << options->username << "\n";
    });
}

void installLogout(CLI::App& app) {
    CLI::App* command = app.add_subcommand("logout", "Sign out (the stored user record stays)");
    addExample(command, "quillora-cli logout");
    command->callback([] {
        routeDiagnostics(false);
        UserAuthManager::shared().logout();
        std::cout << "已退出登录\n";
    });
}

void installWhoami(CLI::App& app) {
    auto verbose = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand("whoami", "Show the signed-in user, balance and prices");
    command->add_flag("--verbose", *verbose, "print diagnostic lines on stderr");
    addExample(command, "quillora-cli whoami");
    command->callback([verbose] {
        routeDiagnostics(*verbose);
        UserAuthManager& session = UserAuthManager::shared();
        if (!session.isAuthenticated()) throw CommandFailure{"未登录"};
        // Everything below came from the platform once: shown without control characters.
        std::cout << "用户: " << printableText(*session.currentUser(), 100) << "\n";
        if (const auto time = session.lastLoginTime()) {
            std::cout << "登录时间: " << formatLocalTime(*time, "%Y-%m-%d %H:%M:%S") << "\n";
        }
        const std::optional<UserData> user = UserManager::shared().getUser();
        if (!user) {
            std::cout << "没有保存的用户信息\n";
            return;
        }
        if (user->userid) std::cout << "用户ID: " << *user->userid << "\n";
        if (user->phone) std::cout << "手机: " << printableText(*user->phone, 100) << "\n";
        // The platform tells the balance only when signing in or charging; say which one it is.
        std::cout << "余额: " << money(user->preamount.value_or(0))
                  << " (上次登录或扣费时的余额)\n";
        std::cout << "字幕价格(每分钟): " << money(user->zimu.value_or(0)) << "\n";
        std::cout << "时间轴价格(每分钟): " << money(user->shijianzhou.value_or(0)) << "\n";
        if (user->paytype) std::cout << "支付方式: " << *user->paytype << "\n";
    });
}

void installPoll(CLI::App& app) {
    auto verbose = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand(
        "poll", "Ask the task server once for the results of every task in \"处理中\"");
    command->add_flag("--verbose", *verbose, "print diagnostic lines on stderr");
    addExample(command, "quillora-cli poll --verbose");
    command->callback([verbose] {
        routeDiagnostics(*verbose);
        const PollingReport report = NetworkService::shared().runPollingPass();
        std::cout << "检查任务: " << report.examined << "，完成: " << report.finished
                  << "，未完成: " << report.pending << "\n";
        if (report.error) throw CommandFailure{"检查新订单失败: " + *report.error};
    });
}

const CommandRegistration registration([](CLI::App& app) {
    installLogin(app);
    installLogout(app);
    installWhoami(app);
    installPoll(app);
});

}  // namespace
}  // namespace quillora::cli
