#pragma once

// Telling the encoding of short East Asian texts, where general-purpose detectors guess a
// Western single-byte code page: every byte sequence is "valid" there, while only the right
// multi-byte encoding decodes into characters people actually write.

#include <optional>
#include <string>
#include <string_view>

namespace quillora {

/// Converts `bytes` from one iconv encoding to another, strictly: nothing when a sequence is
/// invalid in `from` or has no equivalent in `to`, or when iconv does not know a name. An
/// incomplete sequence at the very end is accepted only when `truncated` says the bytes were cut.
std::optional<std::string> recodeStrictly(std::string_view bytes, const std::string& from,
                                          const std::string& to, bool truncated = false);

/// Decodes `bytes` from `encoding` (a name iconv knows) to UTF-8, strictly: nothing when a
/// byte sequence is invalid or unassigned there, or when iconv does not know the name. An
/// incomplete sequence at the very end is accepted only when `truncated` says the bytes were cut.
std::optional<std::string> decodeStrictly(std::string_view bytes, const std::string& encoding,
                                          bool truncated = false);

/// True for names of single-byte code pages (Western, Cyrillic, ...), which every byte sequence
/// satisfies, so a detector that names one for East Asian bytes is guessing.
bool isSingleByteEncodingName(std::string_view name);

/// The East Asian multi-byte encoding or byte-order-free UTF-16 that `bytes` are written in,
/// when the evidence is clear: "GB18030", "BIG5", "SHIFT_JIS", "EUC-KR", "UTF-16LE" or
/// "UTF-16BE" (iconv names). Decides by strict decoding and by how much of the decoded text
/// is made of characters common in the language the encoding serves, with ICU's detector as a
/// second opinion between close candidates. Nothing for ASCII, UTF-8 or Western text.
std::optional<std::string> detectEastAsianEncoding(std::string_view bytes);

}  // namespace quillora
