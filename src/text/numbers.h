#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillora {

/// A whole decimal integer: optional "+" or "-", then one or more ASCII digits and nothing else,
/// within the 64-bit signed range.
std::optional<int64_t> parseWholeInteger(std::string_view text);

/// A floating-point number as the C locale's strtod reads it (decimal or hexadecimal, "inf",
/// "nan"), without leading white space and consuming the whole text.
std::optional<double> parseDecimalNumber(std::string_view text);

/// The same in single precision (strtof).
std::optional<float> parseDecimalNumberFloat(std::string_view text);

}  // namespace quillora
