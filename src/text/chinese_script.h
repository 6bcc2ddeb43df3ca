#pragma once

#include <string>

namespace quillora {

/// The text in one Chinese script: the script most of its script-specific characters are
/// written in (Traditional when more characters exist only in Traditional, Simplified when
/// more exist only in Simplified); characters of the other script are turned into this one.
/// A text with neither, or as many of each, is returned as it is.
std::string inOneChineseScript(const std::string& text);

}  // namespace quillora
