#pragma once

// Builds small .docx archives in memory for the document and script tests (link libzip).

#include <zip.h>

#include <map>
#include <string>

namespace quillora::testing {

/// A zip archive with the given entries.
inline std::string zipArchive(const std::map<std::string, std::string>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    for (const auto& [name, contents] : entries) {
        zip_source_t* entry = zip_source_buffer_create(contents.data(), contents.size(), 0, &error);
        zip_file_add(archive, name.c_str(), entry, ZIP_FL_ENC_UTF_8);
    }
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

/// A WordprocessingML main document around `body` (w: and mc: prefixes bound).
inline std::string wordDocument(const std::string& body, const std::string& prolog = "") {
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)" + prolog +
           R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")"
           R"( xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"><w:body>)" +
           body + "</w:body></w:document>";
}

/// A .docx whose package relationships name `part` as the main document.
inline std::string docxArchive(const std::string& body,
                               const std::string& part = "word/document.xml") {
    const std::string relationships =
        R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="/)" +
        part + R"("/></Relationships>)";
    return zipArchive({{"[Content_Types].xml", "<Types/>"},
                       {"_rels/.rels", relationships},
                       {part, wordDocument(body)}});
}

/// A .docx with one paragraph per line of `lines` ("\n"-separated).
inline std::string docxOfLines(const std::string& lines) {
    std::string body = "<w:p><w:r><w:t xml:space=\"preserve\">";
    for (const char c : lines) {
        if (c == '\n') {
            body += "</w:t></w:r></w:p><w:p><w:r><w:t xml:space=\"preserve\">";
        } else if (c == '&') {
            body += "&amp;";
        } else if (c == '<') {
            body += "&lt;";
        } else {
            body += c;
        }
    }
    return docxArchive(body + "</w:t></w:r></w:p>");
}

}  // namespace quillora::testing
