#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text rules of the subtitle tracker and the merge pass. Characters are grapheme clusters;
// character classes are those of text/unicode.h.
namespace quillora::extraction {

/// Splits UTF-8 text into user-perceived characters.
std::vector<std::string> graphemes(std::string_view text);
size_t characterCount(std::string_view text);

/// Number of CJK unified ideographs (U+4E00..U+9FFF).
int countIdeographs(std::string_view text);

/// Whitespace clean-up plus the noise filter; "" for unusable text.
std::string cleanRecognizedText(std::string_view text);
/// Recognition noise: empty, lone letters or digits, letter-digit pairs, short non-CJK text.
/// Prints a "🔇" line for every filtered text.
bool isNoiseText(std::string_view text);
/// Per-frame continuity test: equal after normalisation or character Jaccard above 0.6.
bool areTextsSimilar(std::string_view a, std::string_view b);
/// Score in 0..1 used to pick the best reading of a subtitle.
double calculateTextQuality(std::string_view text);

// Merge-pass measures.
std::string cleanTextForMergeComparison(std::string_view text);
int editDistance(std::string_view a, std::string_view b);
double calculateEditDistanceSimilarity(std::string_view a, std::string_view b);
int longestCommonSubsequence(std::string_view a, std::string_view b);
double calculateLCSSimilarity(std::string_view a, std::string_view b);
double calculateWordOverlapSimilarity(std::string_view a, std::string_view b);
double calculateCharacterOverlap(std::string_view a, std::string_view b);
/// Weighted score of the four measures; prints them when `debug` is set.
double calculateMergeSimilarity(std::string_view a, std::string_view b, bool debug);

/// Words: non-empty pieces split at whitespace and newlines.
std::vector<std::string> words(std::string_view text);

/// "%.Nf"-style formatting.
std::string fixed(double value, int decimals);

}  // namespace quillora::extraction
