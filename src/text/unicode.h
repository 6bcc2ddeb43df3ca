#pragma once

// Unicode helpers shared by everything that counts, splits or classifies characters. Text is
// UTF-8 in std::string; ill-formed bytes are never dropped or rewritten by the splitting and
// trimming helpers (they simply never match a class), so data passes through intact.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace quillora {

// ---- Code points ---------------------------------------------------------------------------

/// U+000A–U+000D, U+0085, U+2028, U+2029.
bool isNewlineCharacter(char32_t c);

/// Tab and the space separators (general category Zs): the "horizontal white space" class.
bool isHorizontalWhitespace(char32_t c);

/// What the regular-expression class \s matches (the Unicode White_Space property).
bool isRegexWhitespace(char32_t c);

bool isLetter(char32_t c);        ///< general category L*
bool isDecimalDigit(char32_t c);  ///< general category Nd
bool isNumber(char32_t c);        ///< general category N*
bool isPunctuation(char32_t c);   ///< general category P*
bool isSymbol(char32_t c);        ///< general category S*
bool isSeparator(char32_t c);     ///< general category Z*
bool isControl(char32_t c);       ///< general category Cc

/// Decodes UTF-8 into code points; each ill-formed sequence becomes U+FFFD.
std::u32string codePoints(std::string_view text);

/// Appends the UTF-8 form of `c` (U+FFFD for surrogates and values above U+10FFFF).
void appendUtf8(std::string& out, char32_t c);

/// True when `bytes` is well-formed UTF-8 (no surrogates, no overlongs).
bool isValidUtf8(std::string_view bytes);

// ---- Splitting, joining, replacing ---------------------------------------------------------

/// Splits at every newline character; each one is a separator of its own, so "a\r\nb" gives
/// "a", "" and "b". Always at least one piece. The pieces view into `text`.
std::vector<std::string_view> splitNewlines(std::string_view text);

/// Splits at every non-overlapping occurrence of `separator`, scanning left to right; empty
/// pieces are kept. An empty separator gives the whole text as one piece.
std::vector<std::string_view> splitOn(std::string_view text, std::string_view separator);

/// Replaces every non-overlapping occurrence of `from` (literal, case-sensitive), left to right,
/// in one linear pass. An empty `from` leaves the text unchanged.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

template <typename Pieces>
std::string joinStrings(const Pieces& pieces, std::string_view separator) {
    std::string out;
    bool first = true;
    for (const auto& piece : pieces) {
        if (!first) out.append(separator);
        out.append(piece);
        first = false;
    }
    return out;
}

// ---- Trimming ------------------------------------------------------------------------------

/// Removes horizontal white space (tab, Zs) from both ends.
std::string_view trimHorizontalWhitespace(std::string_view text);

/// Removes trailing characters of the \s class (what the expression "\s+$" removes from a line).
std::string_view trimTrailingRegexWhitespace(std::string_view text);

/// Removes characters of the \s class from both ends.
std::string_view trimRegexWhitespace(std::string_view text);

/// Empty after trimming horizontal white space.
bool isBlankLine(std::string_view line);

// ---- User-perceived characters -------------------------------------------------------------

/// Number of extended grapheme clusters.
std::size_t graphemeCount(std::string_view text);

/// The extended grapheme clusters of `text`, in order; they view into `text`.
std::vector<std::string_view> graphemes(std::string_view text);

/// min(graphemeCount(text), limit), without walking past the limit.
std::size_t graphemeCountUpTo(std::string_view text, std::size_t limit);

/// Columns a terminal gives the text: 2 for each wide or full-width cluster (CJK), 0 for
/// controls, 1 for the rest.
std::size_t displayWidth(std::string_view text);

/// The first and the last grapheme cluster (empty for empty text).
std::string_view firstGrapheme(std::string_view text);
std::string_view lastGrapheme(std::string_view text);

// ---- Case ----------------------------------------------------------------------------------

/// Full Unicode lower-casing, locale-independent.
std::string toLower(std::string_view text);

/// A file name's last extension without the dot, lower-cased ("" when it has none).
std::string lowerExtension(const std::filesystem::path& file);

// ---- Regular expressions -------------------------------------------------------------------

/// A regular expression that does not compile, or a replacement text that is not valid.
class RegexError : public Error {
  public:
    using Error::Error;
};

/// A compiled regular expression with Unicode classes (\s, \p{..}, \w are Unicode-aware).
/// Matching works on code points; ill-formed input bytes are read as U+FFFD.
class UnicodeRegex {
  public:
    /// Throws RegexError when the pattern does not compile.
    explicit UnicodeRegex(std::string_view pattern, bool caseInsensitive = false);
    ~UnicodeRegex();
    UnicodeRegex(UnicodeRegex&&) noexcept;
    UnicodeRegex& operator=(UnicodeRegex&&) noexcept;

    /// True when the expression matches somewhere in `text`.
    bool search(std::string_view text) const;
    /// True when the expression matches the whole of `text`.
    bool fullMatch(std::string_view text) const;
    /// Every non-overlapping match, left to right.
    std::vector<std::string> findAll(std::string_view text) const;
    /// Replaces every match; `replacement` may refer to groups as $1, $2 (a literal $ is \$).
    std::string replaceAll(std::string_view text, std::string_view replacement) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillora
