#include "text/numbers.h"

#include <locale.h>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace quillora {
namespace {

// strtod follows the global locale's decimal point; numbers in files always use ".".
locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool isAsciiSpace(char ch) {
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

template <typename Number, typename Convert>
std::optional<Number> parseWithC(std::string_view text, Convert convert) {
    if (text.empty() || isAsciiSpace(text.front())) return std::nullopt;
    // strtod stops at a NUL byte; one inside the text means it cannot be consumed entirely.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    std::string copy(text);
    char* end = nullptr;
    Number value = convert(copy.c_str(), &end, cLocale());
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int64_t> parseWholeInteger(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    for (char ch : digits) {
        if (ch < '0' || ch > '9') return std::nullopt;
    }
    // from_chars reads the minus sign itself, so the most negative value stays readable.
    std::string_view number = negative ? text : digits;
    int64_t value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size()) return std::nullopt;
    return value;
}

std::optional<double> parseDecimalNumber(std::string_view text) {
    return parseWithC<double>(text, strtod_l);
}

std::optional<float> parseDecimalNumberFloat(std::string_view text) {
    return parseWithC<float>(text, strtof_l);
}

std::string shortestDecimal(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string money(double amount) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", amount);
    return buffer;
}

}  // namespace quillora
