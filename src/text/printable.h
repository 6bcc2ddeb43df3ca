#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillora {

/// The text as it may be shown on a terminal or written to a log line: control characters (C0,
/// DEL, C1), direction overrides and bytes that are not UTF-8 become visible escapes ("\x1b",
/// "\u202e"), a backslash becomes "\\", and text beyond `limit` code points is cut with "…".
std::string printableText(std::string_view text, std::size_t limit = 500);

}  // namespace quillora
