// quillora-platform: the reference platform server and its account administration.
#include <pthread.h>
#include <CLI/CLI.hpp>
#include <cmath>
#include <csignal>
#include <iostream>
#include <thread>

#include "platform/console.h"
#include "server/platform_server.h"
#include "text/numbers.h"

namespace {

using quillora::money;
using quillora::server::AccountStore;
using quillora::server::NewAccount;
using quillora::server::PlatformServer;

constexpr const char* kDemoName = "demo";
constexpr const char* kDemoPassword = "demo1234";

struct ServeOptions {
    std::string listen = "127.0.0.1:8750";
    std::string data = quillora::server::defaultServerDataDirectory().string();
    bool demo = false;
    std::size_t maxUpload = std::size_t{2} << 30;
    unsigned alignWorkers = 0;
    std::size_t maxConnections = quillora::server::ConnectionLimits{}.maxConnections;
    std::size_t maxPerAddress = quillora::server::ConnectionLimits{}.maxPerAddress;
};

/// The `user` subcommands and what they were given.
struct UserCommands {
    CLI::App* user = nullptr;
    CLI::App* add = nullptr;
    CLI::App* list = nullptr;
    CLI::App* topup = nullptr;
    NewAccount account;
    std::string topupName;
    double topupAmount = 0;
};

void addServeOptions(CLI::App& app, ServeOptions& options) {
    app.add_option("--listen", options.listen, "Address and port to listen on (HOST:PORT)")
        ->capture_default_str();
    app.add_option("--data", options.data, "Folder of the accounts database and task files")
        ->capture_default_str();
    app.add_flag("--demo", options.demo, "Create the demo account on first start");
    app.add_option("--max-upload", options.maxUpload, "Largest accepted upload in bytes")
        ->capture_default_str();
    app.add_option("--align-workers", options.alignWorkers,
                   "Recordings aligned at the same time (default: one per processor core)")
        ->check(CLI::PositiveNumber);
    // The HTTP library refuses sockets numbered 1024 and above, so the cap stays below that.
    app.add_option("--max-connections", options.maxConnections,
                   "Connections served at once; more are refused")
        ->check(CLI::Range(std::size_t{1}, std::size_t{900}))
        ->capture_default_str();
    app.add_option("--max-per-address", options.maxPerAddress,
                   "Connections served at once for one client address")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
}

void addUserCommands(CLI::App& app, UserCommands& commands) {
    commands.user = app.add_subcommand("user", "Manage platform accounts");
    commands.user->require_subcommand(1);
    commands.user->footer("Example:\n  quillora-platform user list");
    commands.add = commands.user->add_subcommand("add", "Add an account");
    NewAccount& account = commands.account;
    commands.add->add_option("NAME", account.name)->required();
    commands.add->add_option("PASSWORD", account.password)->required();
    commands.add->add_option("--balance", account.balance, "Starting balance")
        ->check(CLI::NonNegativeNumber);
    commands.add->add_option("--phone", account.phone, "Phone number");
    commands.add->add_option("--zimu", account.zimu, "Per-minute price of subtitle production");
    commands.add->add_option("--shijianzhou", account.shijianzhou,
                             "Per-minute price of the timeline");
    commands.add->add_option("--paytype", account.paytype, "Payment type code");
    commands.list = commands.user->add_subcommand("list", "List the accounts");
    commands.topup = commands.user->add_subcommand("topup", "Add to an account's balance");
    commands.topup->add_option("NAME", commands.topupName)->required();
    commands.topup->add_option("AMOUNT", commands.topupAmount, "amount to add, more than 0")
        ->required();
    // --data belongs to the program but is written after the account command as often as before.
    for (CLI::App* command : {commands.user, commands.add, commands.list, commands.topup})
        command->fallthrough();
    commands.topup->footer("Example:\n  quillora-platform user topup bob 50");
    commands.add->footer("Example:\n  quillora-platform user add bob s3cret --balance 100");
    commands.list->footer(
        "Example:\n  quillora-platform user list --data /var/lib/quillora-platform");
}

void runUserCommand(const UserCommands& commands, const std::string& data) {
    AccountStore store(std::filesystem::path(data) / "platform.db");
    if (commands.add->parsed()) {
        const auto added = store.addAccount(commands.account);
        std::cout << "Added user " << added.name << " (id " << added.id << ", balance "
                  << money(added.balance) << ")\n";
    } else if (commands.list->parsed()) {
        std::cout << "ID\tNAME\tBALANCE\tZIMU\tSHIJIANZHOU\tPAYTYPE\tPHONE\n";
        for (const auto& a : store.listAccounts()) {
            std::cout << a.id << "\t" << a.name << "\t" << money(a.balance) << "\t" << a.zimu
                      << "\t" << a.shijianzhou << "\t" << a.paytype << "\t" << a.phone << "\n";
        }
    } else if (commands.topup->parsed()) {
        // One line for any amount that adds nothing, negative ones included.
        if (!(commands.topupAmount > 0) || !std::isfinite(commands.topupAmount)) {
            throw CLI::ValidationError("AMOUNT", "充值金额必须大于 0");
        }
        const auto after = store.topUp(commands.topupName, commands.topupAmount);
        std::cout << "Balance of " << after.name << " is now " << money(after.balance) << "\n";
    }
}

std::pair<std::string, int> splitListen(const std::string& listen) {
    const auto colon = listen.rfind(':');
    if (colon == std::string::npos) throw CLI::ValidationError("--listen", "需要 HOST:PORT");
    int port = 0;
    try {
        port = std::stoi(listen.substr(colon + 1));
    } catch (const std::exception&) {
        throw CLI::ValidationError("--listen", "端口无效");
    }
    if (port < 0 || port > 65535) throw CLI::ValidationError("--listen", "端口无效");
    return {listen.substr(0, colon), port};
}

void ensureDemoAccount(PlatformServer& server) {
    if (server.accounts().findByName(kDemoName)) {
        std::cout << "Demo account: user " << kDemoName << ", password " << kDemoPassword
                  << " (unless changed)\n";
        return;
    }
    NewAccount demo;
    demo.name = kDemoName;
    demo.password = kDemoPassword;
    demo.balance = 100;
    demo.phone = "13800000000";
    server.accounts().addAccount(demo);
    std::cout << "Created demo account: user " << kDemoName << ", password " << kDemoPassword
              << ", balance 100.00\n";
}

void serveUntilSignalled(const ServeOptions& options) {
    // Signals are taken by one waiting thread, so shutdown runs outside a signal handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const auto [host, port] = splitListen(options.listen);
    quillora::server::ServerConfig config;
    config.dataDirectory = options.data;
    config.maxUploadBytes = options.maxUpload;
    config.alignWorkers = options.alignWorkers;
    config.connections.maxConnections = options.maxConnections;
    config.connections.maxPerAddress = options.maxPerAddress;
    PlatformServer server(config);
    if (options.demo) ensureDemoAccount(server);
    const int bound = server.bind(host, port);
    std::cout << "quillora-platform listening on http://" << host << ":" << bound << ", data in "
              << options.data << std::endl;

    std::thread waiter([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        quillora::console("Shutting down (signal " + std::to_string(received) + ")");
        server.stop();
    });
    server.run();
    server.stop();
    // Wake the waiter if the server ended on its own.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quillora reference platform: sign-in, charging, upload, alignment, results"};
    app.name("quillora-platform");
    app.set_version_flag("--version", "quillora-platform " QUILLORA_VERSION);
    app.footer(
        "Example:\n  quillora-platform --listen 0.0.0.0:8750 --data /var/lib/quillora-platform");
    ServeOptions options;
    UserCommands users;
    addServeOptions(app, options);
    addUserCommands(app, users);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        // 2 for every usage error, as every Quillora binary answers; CLI11's own codes vary.
        app.exit(error);
        return 2;
    }
    try {
        if (users.user->parsed()) {
            runUserCommand(users, options.data);
        } else {
            serveUntilSignalled(options);
        }
        return 0;
    } catch (const CLI::Error& error) {
        std::cerr << "quillora-platform: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "quillora-platform: " << error.what() << "\n";
        return 1;
    }
}
