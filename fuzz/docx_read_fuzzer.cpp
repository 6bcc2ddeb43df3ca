#include "fuzz_support.h"
#include "platform/documents/document_readers.h"
#include "text/unicode.h"

#include <zip.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// A .docx archive (stored, not compressed) whose main document is `xml`.
std::string archiveOf(std::string_view xml) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_t* entry = zip_source_buffer_create(xml.data(), xml.size(), 0, &error);
    const zip_int64_t index = zip_file_add(archive, "word/document.xml", entry, 0);
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    zip_close(archive);
    std::string bytes;
    if (zip_source_open(buffer) == 0) {
        char chunk[65536];
        zip_int64_t got;
        while ((got = zip_source_read(buffer, chunk, sizeof chunk)) > 0)
            bytes.append(chunk, static_cast<size_t>(got));
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

// The text as a document of one paragraph per line, tabs as w:tab.
std::string asDocumentXml(const std::string& text) {
    std::string xml =
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
        "<w:body><w:p><w:r><w:t xml:space=\"preserve\">";
    for (const char c : text) {
        switch (c) {
            case '\n':
                xml += "</w:t></w:r></w:p><w:p><w:r><w:t xml:space=\"preserve\">";
                break;
            case '\t':
                xml += "</w:t><w:tab/><w:t xml:space=\"preserve\">";
                break;
            case '&':
                xml += "&amp;";
                break;
            case '<':
                xml += "&lt;";
                break;
            case '>':
                xml += "&gt;";
                break;
            case '\r':
                xml += "&#13;";
                break;
            default:
                xml += c;
        }
    }
    return xml + "</w:t></w:r></w:p></w:body></w:document>";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    return 0;
}

// An input starting with 'Z' is taken as the archive itself; any other input is the main
// document's XML, wrapped in a valid archive so the mutations reach the XML reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = quillora::fuzzing::asText(data, size);
    const bool rawArchive = !input.empty() && input.front() == 'Z';
    const std::string archive = rawArchive ? std::string(input.substr(1)) : archiveOf(input);
    std::string text;
    try {
        text = quillora::documents::docxToPlainText(archive);
    } catch (const quillora::documents::DocumentError&) {
        return 0;
    }
    if (!quillora::isValidUtf8(text)) std::abort();
    if (quillora::documents::docxToPlainText(archiveOf(asDocumentXml(text))) != text) std::abort();
    return 0;
}
