// Script text tools: `count` (line lengths), `encode-script` and `decode-srt` (the platform's
// text encoding in both directions).
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "platform/console.h"
#include "subtitles/line_counter.h"
#include "subtitles/text_file.h"
#include "text/script_codec.h"
#include "text/time_codes.h"
#include "text/unicode.h"

namespace quillora::cli {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& file) {
    try {
        return readUtf8File(file);
    } catch (const TextFileError& error) {
        throw CommandFailure{error.description()};
    }
}

struct CountOptions {
    std::string file;
    int limit = LineCounterDocument::kDefaultLimit;
};

void installCount(CLI::App& app) {
    auto options = std::make_shared<CountOptions>();
    CLI::App* command = app.add_subcommand(
        "count",
        "Count the characters of every non-empty line of a text file: number, count, "
        "mark (正常/超标) and text, tab-separated");
    command->add_option("file", options->file, "UTF-8 text file")->required();
    command->add_option("--limit", options->limit, "characters allowed per line")
        ->capture_default_str()
        ->check(CLI::Range(LineCounterDocument::kMinimumLimit, LineCounterDocument::kMaximumLimit));
    command->callback([options] {
        LineCounterDocument document;
        document.setMaxCharacterLimit(options->limit);
        document.processDocument(readText(options->file));
        std::string out;
        for (const LineStat& line : document.lines()) {
            out += std::to_string(line.originalLineNumber) + "\t" +
                   std::to_string(line.chineseCount) + "\t" + std::string(lineStatusMark(line)) +
                   "\t" + line.rawText + "\n";
        }
        writeOrPrint("", out);
    });
}

void installEncodeScript(CLI::App& app) {
    addFileToTextCommand(
        app, "encode-script",
        "Print the script text a task uploads for FILE (.txt or .srt, UTF-8): blank lines and "
        "trailing blanks removed, punctuation encoded",
        "script file", [](const fs::path& file) {
            const std::string extension = lowerExtension(file);
            if (extension != "txt" && extension != "srt") {
                throw CommandFailure{"不支持的文本格式: " + file.string()};
            }
            return removeFuhao(removeSpacelines(readText(file)));
        });
}

void installDecodeSrt(CLI::App& app) {
    addFileToTextCommand(
        app, "decode-srt",
        "Print the SRT a finished task writes beside its recording: punctuation decoded and gaps "
        "under 10 frames closed",
        "SRT from the platform (UTF-8)",
        [](const fs::path& file) { return adjustTimeGaps(addfuhao(readText(file)), 10.0); });
}

const CommandRegistration registration([](CLI::App& app) {
    installCount(app);
    installEncodeScript(app);
    installDecodeSrt(app);
});

}  // namespace
}  // namespace quillora::cli
