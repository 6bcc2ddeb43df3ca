#include "subtitles/xml_escape.h"

#include <cstdint>

namespace quillora {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0 when it is ill-formed.
size_t validSequenceLength(std::string_view text, char32_t& codePoint) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    codePoint = value;
    return length;
}

bool allowedInXml(char32_t c) {
    if (c < 0x20) return c == 0x09 || c == 0x0A || c == 0x0D;
    return c != 0xFFFE && c != 0xFFFF;
}

void appendEscaped(std::string& out, std::string_view text, bool attribute) {
    out.reserve(out.size() + text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        // The common case: plain ASCII that needs nothing.
        if (static_cast<uint8_t>(c) >= 0x20 && static_cast<uint8_t>(c) < 0x80 && c != '&' &&
            c != '<' && c != '>' && c != '"') {
            out.push_back(c);
            ++i;
            continue;
        }
        switch (c) {
            case '&':
                out.append("&amp;");
                ++i;
                continue;
            case '<':
                out.append("&lt;");
                ++i;
                continue;
            case '>':
                out.append("&gt;");
                ++i;
                continue;
            case '"':
                out.append(attribute ? "&quot;" : "\"");
                ++i;
                continue;
            case '\t':
                out.append(attribute ? "&#9;" : "\t");
                ++i;
                continue;
            case '\n':
                out.append(attribute ? "&#10;" : "\n");
                ++i;
                continue;
            case '\r':
                // Parsers turn a literal carriage return into a line feed even in content.
                out.append("&#13;");
                ++i;
                continue;
            default:
                break;
        }
        char32_t codePoint = 0;
        const size_t length = validSequenceLength(text.substr(i), codePoint);
        if (length == 0) {
            out.append("\xEF\xBF\xBD");  // U+FFFD
            ++i;
            continue;
        }
        if (allowedInXml(codePoint)) out.append(text.substr(i, length));
        i += length;
    }
}

}  // namespace

void appendXmlText(std::string& out, std::string_view text) {
    appendEscaped(out, text, false);
}

void appendXmlAttribute(std::string& out, std::string_view text) {
    appendEscaped(out, text, true);
}

std::string escapeXmlText(std::string_view text) {
    std::string out;
    appendXmlText(out, text);
    return out;
}

std::string escapeXmlAttribute(std::string_view text) {
    std::string out;
    appendXmlAttribute(out, text);
    return out;
}

}  // namespace quillora
