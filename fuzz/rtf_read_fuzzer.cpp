#include "fuzz_support.h"
#include "platform/documents/document_readers.h"
#include "text/unicode.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The text written back as RTF, every character outside printable ASCII as \uN with a "?"
// fallback: reading that must give the same text again.
std::string asRtf(const std::string& text) {
    std::string rtf = "{\\rtf1\\ansi\\ansicpg936\\uc1 ";
    for (const char32_t c : quillora::codePoints(text)) {
        if (c == '\n') {
            rtf += "\\par ";
        } else if (c == '\t') {
            rtf += "\\tab ";
        } else if (c == '\\' || c == '{' || c == '}') {
            rtf += '\\';
            rtf += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            rtf += static_cast<char>(c);
        } else {
            const auto unit = [&](unsigned value) {
                rtf += "\\u" + std::to_string(static_cast<int>(static_cast<int16_t>(value))) + "?";
            };
            if (c > 0xFFFF) {
                unit(0xD800 + ((c - 0x10000) >> 10));
                unit(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                unit(c);
            }
        }
    }
    return rtf + "}";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text;
    try {
        text = quillora::documents::rtfToPlainText(quillora::fuzzing::asText(data, size));
    } catch (const quillora::documents::DocumentError&) {
        return 0;
    }
    if (!quillora::isValidUtf8(text)) std::abort();
    if (quillora::documents::rtfToPlainText(asRtf(text)) != text) std::abort();
    return 0;
}
