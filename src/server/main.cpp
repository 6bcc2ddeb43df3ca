// quillora-platform: the reference platform server and its account administration.
#include <pthread.h>
#include <CLI/CLI.hpp>
#include <csignal>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/console.h"
#include "server/platform_server.h"

namespace {

using quillora::server::AccountStore;
using quillora::server::defaultServerDataDirectory;

constexpr const char* kDemoName = "demo";
constexpr const char* kDemoPassword = "demo1234";

std::string money(double amount) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(2) << amount;
    return out.str();
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

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quillora reference platform: sign-in, charging, upload, alignment, results"};
    app.name("quillora-platform");
    std::string listen = "127.0.0.1:8750";
    std::string data = defaultServerDataDirectory().string();
    bool demo = false;
    std::size_t maxUpload = std::size_t{2} << 30;
    app.add_option("--listen", listen, "Address and port to listen on (HOST:PORT)")
        ->capture_default_str();
    app.add_option("--data", data, "Folder of the accounts database and task files")
        ->capture_default_str();
    app.add_flag("--demo", demo, "Create the demo account on first start");
    app.add_option("--max-upload", maxUpload, "Largest accepted upload in bytes")
        ->capture_default_str();
    unsigned alignWorkers = 0;
    app.add_option("--align-workers", alignWorkers,
                   "Recordings aligned at the same time (default: one per processor core)")
        ->check(CLI::PositiveNumber);

    auto* user = app.add_subcommand("user", "Manage platform accounts");
    user->require_subcommand(1);
    auto* add = user->add_subcommand("add", "Add an account");
    quillora::server::NewAccount account;
    add->add_option("NAME", account.name)->required();
    add->add_option("PASSWORD", account.password)->required();
    add->add_option("--balance", account.balance, "Starting balance")
        ->check(CLI::NonNegativeNumber);
    add->add_option("--phone", account.phone, "Phone number");
    add->add_option("--zimu", account.zimu, "Per-minute price of subtitle production");
    add->add_option("--shijianzhou", account.shijianzhou, "Per-minute price of the timeline");
    add->add_option("--paytype", account.paytype, "Payment type code");
    auto* list = user->add_subcommand("list", "List the accounts");
    auto* topup = user->add_subcommand("topup", "Add to an account's balance");
    std::string topupName;
    double topupAmount = 0;
    topup->add_option("NAME", topupName)->required();
    topup->add_option("AMOUNT", topupAmount)->required()->check(CLI::PositiveNumber);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }

    try {
        if (user->parsed()) {
            AccountStore store(std::filesystem::path(data) / "platform.db");
            if (add->parsed()) {
                const auto added = store.addAccount(account);
                std::cout << "Added user " << added.name << " (id " << added.id << ", balance "
                          << money(added.balance) << ")\n";
            } else if (list->parsed()) {
                std::cout << "ID\tNAME\tBALANCE\tZIMU\tSHIJIANZHOU\tPAYTYPE\tPHONE\n";
                for (const auto& a : store.listAccounts()) {
                    std::cout << a.id << "\t" << a.name << "\t" << money(a.balance) << "\t"
                              << a.zimu << "\t" << a.shijianzhou << "\t" << a.paytype << "\t"
                              << a.phone << "\n";
                }
            } else if (topup->parsed()) {
                const auto after = store.topUp(topupName, topupAmount);
                std::cout << "Balance of " << after.name << " is now " << money(after.balance)
                          << "\n";
            }
            return 0;
        }

        // Signals are taken by one waiting thread, so shutdown runs outside a signal handler.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        const auto [host, port] = splitListen(listen);
        quillora::server::ServerConfig config;
        config.dataDirectory = data;
        config.maxUploadBytes = maxUpload;
        config.alignWorkers = alignWorkers;
        quillora::server::PlatformServer server(config);
        if (demo && !server.accounts().findByName(kDemoName)) {
            quillora::server::NewAccount demoAccount;
            demoAccount.name = kDemoName;
            demoAccount.password = kDemoPassword;
            demoAccount.balance = 100;
            demoAccount.phone = "13800000000";
            server.accounts().addAccount(demoAccount);
            std::cout << "Created demo account: user " << kDemoName << ", password "
                      << kDemoPassword << ", balance 100.00\n";
        } else if (demo) {
            std::cout << "Demo account: user " << kDemoName << ", password " << kDemoPassword
                      << " (unless changed)\n";
        }
        const int bound = server.bind(host, port);
        std::cout << "quillora-platform listening on http://" << host << ":" << bound
                  << ", data in " << data << std::endl;

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
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quillora-platform: " << error.what() << "\n";
        return 1;
    }
}
