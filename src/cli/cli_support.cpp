#include "cli/cli_support.h"

#include <cstdio>
#include <memory>

#include "cli/command_registry.h"
#include "subtitles/text_file.h"

namespace quillora::cli {

ConsoleSink diagnosticsSink(bool verbose) {
    return [verbose](std::string_view line) {
        if (!verbose) return;
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fputc('\n', stderr);
    };
}

void addFileToTextCommand(CLI::App& app, const std::string& name, const std::string& description,
                          const std::string& fileHelp,
                          std::function<std::string(const std::filesystem::path&)> transform) {
    struct Options {
        std::string file;
        std::string output;
        bool verbose = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("file", options->file, fileHelp)->required();
    command->add_option("-o,--output", options->output, "write to this file instead");
    command->add_flag("-v,--verbose", options->verbose, "show diagnostic lines on stderr");
    command->callback([options, transform = std::move(transform)] {
        ScopedConsoleSink route(diagnosticsSink(options->verbose));
        writeOrPrint(options->output, transform(options->file));
    });
}

void writeOrPrint(const std::string& output, std::string_view text) {
    if (output.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    try {
        writeTextFile(output, text);
    } catch (const TextFileError& error) {
        throw CommandFailure{error.description()};
    }
}

}  // namespace quillora::cli
