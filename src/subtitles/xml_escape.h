#pragma once

#include <string>
#include <string_view>

namespace quillora {

/// Appends `text` so that it reads back unchanged from XML element content: "&", "<" and ">"
/// become entity references; bytes that are not UTF-8 become U+FFFD and characters that XML 1.0
/// forbids (control characters other than tab, line feed and carriage return, U+FFFE, U+FFFF)
/// are dropped, so the document stays well-formed whatever the subtitle holds.
void appendXmlText(std::string& out, std::string_view text);

/// As appendXmlText, for a double-quoted attribute value: also escapes the quotation mark, and
/// tab, line feed and carriage return (which a parser would otherwise turn into blanks).
void appendXmlAttribute(std::string& out, std::string_view text);

std::string escapeXmlText(std::string_view text);
std::string escapeXmlAttribute(std::string_view text);

}  // namespace quillora
