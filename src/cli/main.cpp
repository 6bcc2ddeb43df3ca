#include <iostream>
#include <vector>

#include "cli/command_registry.h"

namespace quillora::cli {
namespace {

std::vector<CommandInstaller>& installers() {
    static std::vector<CommandInstaller> list;
    return list;
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
    quillora::cli::installAllCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return quillora::cli::kExitUsage;
    } catch (const std::exception& error) {
        // Product errors carry their description as what(); anything else says what it can.
        std::cerr << "quillora-cli: " << error.what() << "\n";
        return quillora::cli::kExitFailure;
    }
    return 0;
}
