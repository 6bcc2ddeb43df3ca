#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora {

/// An editor document that cannot be read: unreadable file, not well-formed XML, or a shape
/// the reader refuses (entity declarations).
class EditorXmlError : public Error {
  public:
    using Error::Error;
};

/// SRT text of the titles in an FCPXML document: the text-styles of titles on spine clips, or
/// on the spine's gap when no clip holds one, numbered from 1. Throws EditorXmlError.
std::string fcpxmlDocumentToSrt(std::string_view xml);

/// SRT text of the Outline Text generator items of a Premiere (xmeml) sequence, numbered by
/// their position among all generator items; empty when the sequence timecode has no usable
/// timebase. Throws EditorXmlError.
std::string xmemlDocumentToSrt(std::string_view xml);

/// The same from a file; throw EditorXmlError naming the file.
std::string readFcpxmlFileAsSrt(const std::filesystem::path& file);
std::string readXmemlFileAsSrt(const std::filesystem::path& file);

/// The screens' forms: a file that cannot be used is reported on the console as
/// "Error parsing XML: " + reason and gives an empty text.
std::string fcpxmltosrt(const std::filesystem::path& fileurl);
std::string xmltosrt(const std::filesystem::path& fileurl);

}  // namespace quillora
