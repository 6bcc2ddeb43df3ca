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
    bool check = false;
};

// "00:00:01,500 --> 00:00:03,000": an SRT time line.
bool isTimeLine(std::string_view text) {
    const std::vector<std::string_view> sides = splitOn(text, "-->");
    return sides.size() == 2 && parseTime(trimHorizontalWhitespace(sides[0])) &&
           parseTime(trimHorizontalWhitespace(sides[1]));
}

// In an SRT only the subtitle text is counted: a time line, and the cue number right above
// one, are not lines anybody reads.
std::vector<LineStat> subtitleTextLines(const std::vector<LineStat>& lines) {
    std::vector<LineStat> kept;
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineStat& line = lines[i];
        if (isTimeLine(line.processedText)) continue;
        const bool number = !line.processedText.empty() &&
                            line.processedText.find_first_not_of("0123456789") == std::string::npos;
        if (number && i + 1 < lines.size() &&
            lines[i + 1].originalLineNumber == line.originalLineNumber + 1 &&
            isTimeLine(lines[i + 1].processedText)) {
            continue;
        }
        kept.push_back(line);
    }
    return kept;
}

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
    command->add_flag("--check", options->check, "exit with 1 when any line is over the limit");
    addExample(command, "quillora-cli count script.txt --limit 18 --check");
    command->callback([options] {
        LineCounterDocument document;
        document.setMaxCharacterLimit(options->limit);
        document.processDocument(readInputText(options->file, options->encoding));
        const std::vector<LineStat> lines = lowerExtension(options->file) == "srt"
                                                ? subtitleTextLines(document.lines())
                                                : document.lines();
        std::string out;
        size_t over = 0;
        for (const LineStat& line : lines) {
            out += std::to_string(line.originalLineNumber) + "\t" +
                   std::to_string(line.chineseCount) + "\t" + std::string(lineStatusMark(line)) +
                   "\t" + line.rawText + "\n";
            over += line.isOverLimit ? 1 : 0;
        }
        writeOrPrint("", out);
        // The summary goes to stderr so the table on stdout stays one record per line.
        std::fflush(stdout);
        std::fprintf(stderr, "共 %zu 行，%zu 行超过 %d 字\n", lines.size(), over, options->limit);
        if (options->check && over > 0) throw FailuresReported{};
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
