#include "cli/cli_support.h"

#include <cstdio>

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
