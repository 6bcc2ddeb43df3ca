#include "fuzz_support.h"
#include "subtitles/srt_parser.h"
#include "text/time_codes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto text = quillora::fuzzing::asText(data, size);
    quillora::SRTParser parser;
    auto subtitles = parser.parse(text);
    for (const auto& subtitle : subtitles) {
        // Every parsed time must be formattable, whatever it is.
        (void)quillora::timeString(subtitle.startTime);
        (void)quillora::timeString(subtitle.endTime);
    }
    // One extra line per subtitle makes merageText rebuild the SRT, which must read back with
    // the same number of subtitles.
    std::string extra;
    for (std::size_t i = 0; i < subtitles.size(); ++i)
        extra += i == 0 ? "x" : "\nx";
    auto merged = parser.merageText(text, extra);
    if (!subtitles.empty() && parser.parse(merged).size() != subtitles.size()) std::abort();
    return 0;
}
