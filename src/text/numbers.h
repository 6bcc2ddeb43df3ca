#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

/// The shortest decimal text that reads back as the same double, with ".0" on whole numbers
/// ("12.0", "0.1", "1e+21"); "nan", "inf" and "-inf" for the values that are not finite.
std::string shortestDecimal(double value);

/// An amount of money as balances and prices are shown: two decimals ("12.50").
std::string money(double amount);

}  // namespace quillora
