#include "fuzz_support.h"
#include "subtitles/srt_parser.h"
#include "text/time_codes.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const auto& item : quillora::readsrtofBytes(quillora::fuzzing::asText(data, size))) {
        (void)quillora::secondsToSRTTime(item.start);
        (void)quillora::secondsToSRTTime(item.end);
    }
    return 0;
}
