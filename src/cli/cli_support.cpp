#include "cli/cli_support.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "cli/command_registry.h"
#include "conversion/encoding_service.h"
#include "conversion/text_reader.h"
#include "subtitles/text_file.h"
#include "text/printable.h"

namespace quillora::cli {
namespace {

std::atomic<bool> interruptRaised{false};

void onInterrupt(int) {
    interruptRaised = true;
}

namespace fs = std::filesystem;

bool answeredYes(std::string answer) {
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r'))
        answer.pop_back();
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "是";
}

// Every file command shares -o, -y/-n and -v; `read` gives the text to transform.
struct FileCommandOptions {
    std::string file;
    std::string output;
    std::string encoding;
    Overwrite overwrite = Overwrite::ask;
    bool verbose = false;
};

CLI::App* addFileCommand(CLI::App& app, const std::string& name, const std::string& description,
                         const std::string& fileHelp, const std::string& example,
                         FileCommandOptions& options) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("file", options.file, fileHelp)->required();
    command->add_option("-o,--output", options.output, "write to this file instead (- for stdout)");
    addOverwriteOptions(command, options.overwrite);
    command->add_flag("-v,--verbose", options.verbose, "show diagnostic lines on stderr");
    addExample(command, example);
    return command;
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
        // Diagnostic lines quote server replies and URLs.
        const std::string shown = printableText(line, 2000);
        std::fwrite(shown.data(), 1, shown.size(), stderr);
        std::fputc('\n', stderr);
    };
}

void addOverwriteOptions(CLI::App* command, Overwrite& policy) {
    auto* yes = command->add_flag_callback(
        "-y,--overwrite", [&policy] { policy = Overwrite::always; },
        "replace existing output files without asking");
    auto* no = command->add_flag_callback(
        "-n,--no-overwrite", [&policy] { policy = Overwrite::never; },
        "never replace an existing output file");
    yes->excludes(no);
}

void claimOutput(const fs::path& target, Overwrite policy) {
    std::error_code ec;
    // Only a regular file (through any links) is replaced; devices and pipes are written into.
    if (!fs::is_regular_file(target, ec) || policy == Overwrite::always) return;
    if (policy == Overwrite::ask && ::isatty(STDIN_FILENO) == 1) {
        std::cerr << target.string() << " 已存在，是否覆盖? [y/N] " << std::flush;
        std::string answer;
        if (std::getline(std::cin, answer) && answeredYes(answer)) return;
        throw CommandFailure{"未覆盖 " + target.string()};
    }
    throw CommandFailure{target.string() + " 已存在，未覆盖" +
                         (policy == Overwrite::ask ? " (用 -y 覆盖)" : "")};
}

void printToStandardOutput(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        throw CommandFailure{std::string("无法写入标准输出: ") + std::strerror(errno)};
    }
}

void forEachInput(const std::vector<std::string>& inputs,
                  const std::function<void(const fs::path&)>& convert) {
    size_t failed = 0;
    for (const std::string& input : inputs) {
        try {
            convert(input);
        } catch (const std::exception& error) {
            std::cerr << "quillora-cli: " << error.what() << std::endl;
            ++failed;
        }
    }
    if (failed > 0) throw FailuresReported{};
}

void addExample(CLI::App* command, const std::string& example) {
    const std::string footer = command->get_footer();
    command->footer((footer.empty() ? "" : footer + "\n\n") + "Example:\n  " + example);
}

void addFileToTextCommand(CLI::App& app, const std::string& name, const std::string& description,
                          const std::string& fileHelp, const std::string& example,
                          std::function<std::string(const fs::path&)> transform) {
    auto options = std::make_shared<FileCommandOptions>();
    CLI::App* command = addFileCommand(app, name, description, fileHelp, example, *options);
    command->callback([options, transform = std::move(transform)] {
        ScopedConsoleSink route(diagnosticsSink(options->verbose));
        if (!options->output.empty() && !isStandardOutput(options->output)) {
            claimOutput(options->output, options->overwrite);
        }
        writeOrPrint(options->output, transform(options->file));
    });
}

std::string readInputText(const fs::path& file, const std::string& encoding) {
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
    const std::string& fileHelp, const std::string& example,
    std::function<std::string(const fs::path&, const std::string& text)> transform) {
    auto options = std::make_shared<FileCommandOptions>();
    CLI::App* command = addFileCommand(app, name, description, fileHelp, example, *options);
    addEncodingOption(command, options->encoding);
    command->callback([options, transform = std::move(transform)] {
        ScopedConsoleSink route(diagnosticsSink(options->verbose));
        if (!options->output.empty() && !isStandardOutput(options->output)) {
            claimOutput(options->output, options->overwrite);
        }
        const std::string text = readInputText(options->file, options->encoding);
        writeOrPrint(options->output, transform(options->file, text));
    });
}

void writeOrPrint(const std::string& output, std::string_view text) {
    if (output.empty() || isStandardOutput(output)) {
        printToStandardOutput(text);
        return;
    }
    try {
        writeTextFile(output, text);
    } catch (const TextFileError& error) {
        throw CommandFailure{error.description()};
    }
}

}  // namespace quillora::cli
