#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "cli/command_registry.h"
#include "text/printable.h"

namespace quillora::cli {
namespace {

std::vector<CommandInstaller>& installers() {
    static std::vector<CommandInstaller> list;
    return list;
}

// What a command printed must have reached its destination: a full disk or a closed pipe on
// stdout is a failure, not a success.
int checkStandardOutput(int status) {
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout)) return status;
    std::cerr << "quillora-cli: 无法写入标准输出"
              << (flushed ? std::string() : std::string(": ") + std::strerror(errno)) << "\n";
    return kExitFailure;
}

}  // namespace

CommandRegistration::CommandRegistration(CommandInstaller installer) {
    installers().push_back(std::move(installer));
}

void installAllCommands(CLI::App& app) {
    for (const auto& install : installers())
        install(app);
}

}  // namespace quillora::cli

int main(int argc, char** argv) {
    CLI::App app{"Quillora: subtitle production tools from the command line"};
    app.name("quillora-cli");
    app.set_version_flag("--version", "quillora-cli " QUILLORA_VERSION);
    app.require_subcommand(1);
    app.footer("Example:\n  quillora-cli srt2fcpxml --help");
    quillora::cli::installAllCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return quillora::cli::checkStandardOutput(app.exit(e));
    } catch (const CLI::CallForAllHelp& e) {
        return quillora::cli::checkStandardOutput(app.exit(e));
    } catch (const CLI::CallForVersion& e) {
        return quillora::cli::checkStandardOutput(app.exit(e));
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return quillora::cli::kExitUsage;
    } catch (const std::exception& error) {
        // Product errors carry their description as what(); anything else says what it can.
        // A failure already reported line by line carries no text of its own. Failures may quote
        // a server's message: no control characters, no endless text.
        if (*error.what()) {
            std::cerr << "quillora-cli: " << quillora::printableText(error.what(), 1000) << "\n";
        }
        return quillora::cli::kExitFailure;
    }
    return quillora::cli::checkStandardOutput(0);
}
