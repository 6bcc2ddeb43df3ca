#include "fuzz_support.h"
#include "text/time_codes.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first eight bytes are the gap limit, so NaN, infinities and extremes are reached.
    double frame = 10;
    if (size >= sizeof frame) {
        std::memcpy(&frame, data, sizeof frame);
        data += sizeof frame;
        size -= sizeof frame;
    }
    (void)quillora::adjustTimeGaps(quillora::fuzzing::asText(data, size), frame);
    return 0;
}
