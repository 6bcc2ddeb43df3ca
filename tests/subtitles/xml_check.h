#pragma once

// Helpers of the editor-format tests: well-formedness through libxml2, golden files.

#include <libxml/parser.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "support/temp_home.h"

namespace quillora::testing {

/// True when libxml2 reads `xml` as a well-formed document.
inline bool isWellFormedXml(std::string_view xml) {
    xmlDoc* document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool ok = document != nullptr;
    xmlFreeDoc(document);
    return ok;
}

inline std::filesystem::path goldenPath(const std::string& name) {
    return sourceDir() / "tests/subtitles/golden" / name;
}

/// The golden file's bytes. With QUILLORA_UPDATE_GOLDEN=1 in the environment the file is first
/// rewritten from `actual`, to accept a deliberate change of the format.
inline std::string golden(const std::string& name, std::string_view actual) {
    const char* update = std::getenv("QUILLORA_UPDATE_GOLDEN");
    if (update && std::string_view(update) == "1") writeFileAtomically(goldenPath(name), actual);
    return readFile(goldenPath(name));
}

}  // namespace quillora::testing
