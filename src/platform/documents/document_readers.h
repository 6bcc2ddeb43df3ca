#pragma once

// Plain text out of word-processor documents: RTF (and RTFD folders) and Office Open XML.
// The readers work on bytes in memory; the file functions are thin wrappers around them.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora::documents {

/// A document that cannot be read as its type; description() names the cause.
class DocumentError : public Error {
  public:
    using Error::Error;
};

/// The plain characters of an RTF document, paragraphs and line breaks as "\n", cells as "\t".
/// Code-paged bytes are decoded in the document's (or the current font's) code page.
/// Throws DocumentError when the bytes are not RTF.
std::string rtfToPlainText(std::string_view rtf);

/// The text lines of a .docx archive's main document: one line per paragraph, joined by "\n".
/// Throws DocumentError when the archive or its document cannot be read.
std::string docxToPlainText(std::string_view archive);

/// Reads an RTF file, or an RTFD folder through its TXT.rtf. Throws DocumentError, or
/// FileError when the file cannot be read.
std::string readRtfDocument(const std::filesystem::path& path, bool isRtfd);

/// Reads a .docx file. Throws DocumentError, or FileError when it cannot be read.
std::string readDocxDocument(const std::filesystem::path& path);

}  // namespace quillora::documents
