#pragma once

// Byte-to-UTF-8 decoders for the encodings subtitle files come in. Each gives nothing when the
// bytes are not valid in that encoding, so callers can try them in turn.

#include <optional>
#include <string>
#include <string_view>

namespace quillora {

/// Strict UTF-8; a leading byte-order mark is dropped.
std::optional<std::string> decodeUtf8(std::string_view bytes);

/// UTF-16. A byte-order mark decides the byte order and is dropped. Without one the bytes are
/// taken as UTF-16 only when they contain NUL bytes (text in an 8-bit encoding has none); the
/// order is little-endian when more NULs sit at odd offsets, else big-endian. Odd lengths and
/// unpaired surrogates fail.
std::optional<std::string> decodeUtf16(std::string_view bytes);

/// 7-bit ASCII; any byte above 0x7F fails.
std::optional<std::string> decodeAscii(std::string_view bytes);

/// Windows code page 1252. The five bytes it leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
/// become the C1 controls of the same value, as the common converters do, so one stray byte
/// does not send a whole file to Latin-1 (which would lose its curly quotes and dashes).
std::optional<std::string> decodeWindows1252(std::string_view bytes);

/// ISO 8859-1; every byte is a character, so this never fails.
std::string decodeLatin1(std::string_view bytes);

}  // namespace quillora
