#pragma once

// Shared by the editor-document fuzzers: splitting one input into fields, well-formedness.

#include <libxml/parser.h>

#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace quillora::fuzzing {

/// The input's NUL-separated pieces: the writers' fuzzers take the SRT text from the first and
/// their names and settings from the rest, so a plain SRT seed runs with the defaults.
inline std::vector<std::string_view> nulSeparated(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const size_t nul = text.find('\0');
        pieces.push_back(text.substr(0, nul));
        if (nul == text.npos) return pieces;
        text.remove_prefix(nul + 1);
    }
}

/// libxml2 prints some input faults (bad encodings) on stderr whatever handler the reader has;
/// the readers still report them, so the fuzzers drop the print-outs.
inline void ignoreLibxmlMessage(void*, const char*, ...) {}
inline void silenceLibxml() {
    xmlSetGenericErrorFunc(nullptr, ignoreLibxmlMessage);
}

/// Aborts unless libxml2 reads `xml` as a well-formed document.
inline void requireWellFormedXml(std::string_view xml) {
    if (xml.size() > static_cast<size_t>(INT_MAX)) std::abort();
    xmlDoc* document =
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
    if (!document) std::abort();
    xmlFreeDoc(document);
}

}  // namespace quillora::fuzzing
