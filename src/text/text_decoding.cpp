#include "text/text_decoding.h"

#include "text/unicode.h"

#include <array>
#include <cstdint>

namespace quillora {
namespace {

uint8_t byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<uint8_t>(bytes[i]);
}

std::optional<std::string> decodeUtf16Ordered(std::string_view bytes, bool littleEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(bytes.size());
    auto unitAt = [&](std::size_t i) -> char16_t {
        uint8_t first = byteAt(bytes, i);
        uint8_t second = byteAt(bytes, i + 1);
        return static_cast<char16_t>(littleEndian ? (second << 8) | first : (first << 8) | second);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        char16_t unit = unitAt(i);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size()) return std::nullopt;
            char16_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                (static_cast<char32_t>(low) - 0xDC00));
            i += 2;
            continue;
        }
        appendUtf8(out, unit);
    }
    return out;
}

// Code points of bytes 0x80-0x9F in code page 1252 (undefined bytes keep their own value).
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::optional<std::string> decodeUtf8(std::string_view bytes) {
    if (!isValidUtf8(bytes)) return std::nullopt;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return std::string(bytes);
}

std::optional<std::string> decodeUtf16(std::string_view bytes) {
    if (bytes.size() >= 2) {
        if (byteAt(bytes, 0) == 0xFF && byteAt(bytes, 1) == 0xFE) {
            return decodeUtf16Ordered(bytes.substr(2), true);
        }
        if (byteAt(bytes, 0) == 0xFE && byteAt(bytes, 1) == 0xFF) {
            return decodeUtf16Ordered(bytes.substr(2), false);
        }
    }
    std::size_t evenNuls = 0;
    std::size_t oddNuls = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0') ++(i % 2 == 0 ? evenNuls : oddNuls);
    }
    if (evenNuls + oddNuls == 0) return std::nullopt;
    return decodeUtf16Ordered(bytes, oddNuls > evenNuls);
}

std::optional<std::string> decodeAscii(std::string_view bytes) {
    for (char ch : bytes) {
        if ((static_cast<unsigned char>(ch) & 0x80U) != 0) return std::nullopt;
    }
    return std::string(bytes);
}

std::optional<std::string> decodeWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        uint8_t byte = byteAt(bytes, i);
        if (byte >= 0x80 && byte <= 0x9F) {
            appendUtf8(out, kWindows1252High[byte - 0x80]);
        } else {
            appendUtf8(out, byte);
        }
    }
    return out;
}

std::string decodeLatin1(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        appendUtf8(out, byteAt(bytes, i));
    return out;
}

}  // namespace quillora
