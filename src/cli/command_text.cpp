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

struct CountOptions {
    std::string file;
    std::string encoding;
    int limit = LineCounterDocument::kDefaultLimit;
};

void installCount(CLI::App& app) {
    auto options = std::make_shared<CountOptions>();
    CLI::App* command = app.add_subcommand(
        "count",
        "Count the characters of every non-empty line of a text file: number, count, "
        "mark (正常/超标) and text, tab-separated");
    command->add_option("file", options->file, "text file")->required();
    addEncodingOption(command, options->encoding);
    command->add_option("--limit", options->limit, "characters allowed per line")
        ->capture_default_str()
        ->check(CLI::Range(LineCounterDocument::kMinimumLimit, LineCounterDocument::kMaximumLimit));
    command->callback([options] {
        LineCounterDocument document;
        document.setMaxCharacterLimit(options->limit);
        document.processDocument(readInputText(options->file, options->encoding));
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
    addTextToTextCommand(
        app, "encode-script",
        "Print the script text a task uploads for FILE (.txt or .srt): blank lines and "
        "trailing blanks removed, punctuation encoded",
        "script file", "quillora-cli encode-script script.txt -o script.encoded.txt",
        [](const fs::path& file, const std::string& text) {
            const std::string extension = lowerExtension(file);
            if (extension != "txt" && extension != "srt") {
                throw CommandFailure{"不支持的文本格式: " + file.string()};
            }
            return removeFuhao(removeSpacelines(text));
        });
}

void installDecodeSrt(CLI::App& app) {
    addTextToTextCommand(app, "decode-srt",
                         "Print the SRT a finished task writes beside its recording: punctuation "
                         "decoded and gaps under 10 frames closed",
                         "SRT from the platform",
                         "quillora-cli decode-srt result.srt -o episode.srt",
                         [](const fs::path&, const std::string& text) {
                             return adjustTimeGaps(addfuhao(text), 10.0);
                         });
}

const CommandRegistration registration([](CLI::App& app) {
    installCount(app);
    installEncodeScript(app);
    installDecodeSrt(app);
});

}  // namespace
}  // namespace quillora::cli
