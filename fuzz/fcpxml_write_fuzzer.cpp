#include "fuzz_support.h"
#include "subtitles/fcpxml_writer.h"
#include "xml_fuzz_support.h"

#include <string>

namespace {

const quillora::FcpxmlStamps& fixedStamps() {
    static const quillora::FcpxmlStamps stamps{
        [] { return std::string("2024-03-01 09:30:00 +0800"); },
        [] { return std::string("00000000-0000-0000-0000-000000000000"); }};
    return stamps;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    quillora::fuzzing::silenceLibxml();
    return 0;
}

// Input: SRT text, then NUL-separated the project name and the settings in preference-key order.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto pieces = quillora::fuzzing::nulSeparated(quillora::fuzzing::asText(data, size));
    const std::string_view name = pieces.size() > 1 ? pieces[1] : std::string_view("Project");
    quillora::FcpxmlSettings settings;
    const auto& keys = quillora::FcpxmlSettings::keys();
    for (size_t i = 0; i < keys.size() && i + 2 < pieces.size(); ++i)
        settings.*(keys[i].field) = std::string(pieces[i + 2]);
    try {
        const auto conversion = quillora::buildFcpxml(pieces[0], name, settings, fixedStamps());
        quillora::fuzzing::requireWellFormedXml(conversion.document);
    } catch (const quillora::FcpxmlStop&) {
    }
    return 0;
}
