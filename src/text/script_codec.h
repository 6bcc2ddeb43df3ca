#pragma once

// The reversible encoding of script text for the alignment platform: punctuation becomes
// "砚<code>篁" tokens, line-initial digits and "x", a few very short lines and the quotation marks
// at the ends of a line get markers the platform keeps. removeFuhao encodes a script before
// upload; addfuhao decodes every SRT that comes back. All functions are pure and thread-safe;
// character counts are in grapheme clusters.

#include <array>
#include <string>
#include <string_view>

namespace quillora {

/// One row of the punctuation token table: code N is written "砚N篁".
struct PunctuationToken {
    int code;
    std::string_view character;
    bool encodedOnUpload;  ///< false: only decoded (colons, parentheses and duplicates)
};

/// The token table, in code order; encoding and decoding both walk it in this order.
extern const std::array<PunctuationToken, 37> kPunctuationTokens;

/// "\r\n" and "\r" become "\n", trailing white space of every line goes, empty lines are
/// dropped; no trailing line feed.
std::string removeSpacelines(std::string_view text);

/// Encodes a script for upload.
std::string removeFuhao(std::string_view text);

/// Decodes an SRT downloaded from the platform. Inaudible markers dropped on upload stay gone,
/// and "拜拜" always becomes "再见".
std::string addfuhao(std::string_view text);

/// headIngredientLine applied to every non-blank line.
std::string addemo(std::string_view text);

/// Replaces a quotation mark that opens or closes the line by its emoji marker. Lines shorter
/// than two characters are returned unchanged with the console line "too short".
std::string headIngredientLine(std::string_view line);

/// reverseIngredientLineV2 applied to every non-blank line.
std::string reverseIngredientParagraph(std::string_view text);

/// Turns the emoji markers of one line back into quotation marks.
std::string reverseIngredientLineV2(std::string_view line);

/// Plain text of an SRT: for each block with at least three non-empty lines, its text lines
/// joined with a blank, one subtitle per output line.
std::string srttxt(std::string_view srt);

}  // namespace quillora
