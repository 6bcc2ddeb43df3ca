#include "cli/cli_support.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "cli/command_registry.h"
#include "conversion/encoding_service.h"
#include "conversion/text_reader.h"
#include "subtitles/text_file.h"

namespace quillora::cli {
namespace {

std::atomic<bool> interruptRaised{false};

void onInterrupt(int) {
    interruptRaised = true;
}

}  // namespace

struct InterruptGuard::Previous {
    struct sigaction interrupt {};
    struct sigaction terminate {};
};

InterruptGuard::InterruptGuard() : previous_(std::make_unique<Previous>()) {
    interruptRaised = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous_->interrupt);
    ::sigaction(SIGTERM, &action, &previous_->terminate);
}

InterruptGuard::~InterruptGuard() {
    ::sigaction(SIGINT, &previous_->interrupt, nullptr);
    ::sigaction(SIGTERM, &previous_->terminate, nullptr);
}

bool InterruptGuard::interrupted() {
    return interruptRaised;
}

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

std::string readInputText(const std::filesystem::path& file, const std::string& encoding) {
    try {
        DecodedText decoded = readTextInAnyEncoding(file, encoding);
        if (isLegacyEncoding(decoded.encoding)) {
            std::fprintf(stderr, "按 %s 编码读取 %s\n", decoded.encoding.c_str(), file.c_str());
        }
        return std::move(decoded.text);
    } catch (const Error& error) {
        throw CommandFailure(file.string() + ": " + error.description());
    }
}

void addEncodingOption(CLI::App* command, std::string& encoding) {
    command->add_option("--encoding", encoding,
                        "the input's text encoding (e.g. GB18030, BIG5, UTF-16LE) instead of "
                        "the detected one");
}

void addTextToTextCommand(
    CLI::App& app, const std::string& name, const std::string& description,
    const std::string& fileHelp,
    std::function<std::string(const std::filesystem::path&, const std::string& text)> transform) {
    struct Options {
        std::string file;
        std::string output;
        std::string encoding;
        bool verbose = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("file", options->file, fileHelp)->required();
    command->add_option("-o,--output", options->output, "write to this file instead");
    addEncodingOption(command, options->encoding);
    command->add_flag("-v,--verbose", options->verbose, "show diagnostic lines on stderr");
    command->callback([options, transform = std::move(transform)] {
        ScopedConsoleSink route(diagnosticsSink(options->verbose));
        const std::string text = readInputText(options->file, options->encoding);
        writeOrPrint(options->output, transform(options->file, text));
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
