#include "fuzz_support.h"
#include "subtitles/premiere_writer.h"
#include "subtitles/srt_parser.h"
#include "xml_fuzz_support.h"

#include <climits>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

namespace {

template <typename Number>
Number numberOr(const std::vector<std::string_view>& pieces, size_t index, Number fallback) {
    if (index >= pieces.size()) return fallback;
    const std::string text(pieces[index]);
    if constexpr (std::is_floating_point_v<Number>) {
        return std::strtof(text.c_str(), nullptr);
    } else {
        const long value = std::strtol(text.c_str(), nullptr, 10);
        return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    quillora::fuzzing::silenceLibxml();
    return 0;
}

// Input: SRT bytes, then NUL-separated the project name, fps, width, height and "1" for the
// name-plate variant.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto pieces = quillora::fuzzing::nulSeparated(quillora::fuzzing::asText(data, size));
    const auto items = quillora::readsrtofBytes(pieces[0]);
    const std::string_view name = pieces.size() > 1 ? pieces[1] : std::string_view("Project");
    const float fps = numberOr(pieces, 2, 25.0f);
    const int width = numberOr(pieces, 3, 1920);
    const int height = numberOr(pieces, 4, 1080);
    const bool tianhe = pieces.size() > 5 && pieces[5] == "1";
    try {
        const std::string document = quillora::buildPremiereXml(
            items, name, fps, width, height, tianhe,
            [] { return std::string("00000000-0000-0000-0000-000000000000"); });
        quillora::fuzzing::requireWellFormedXml(document);
    } catch (const quillora::PremiereXmlError&) {
    }
    return 0;
}
