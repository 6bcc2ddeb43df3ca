#pragma once

#include <string>

namespace quillora::server {

/// How long a script line takes to say, in syllables, and where it may pause.
struct SpokenLength {
    double syllables = 0;  ///< 0 for a line of punctuation only
    int pauses = 0;        ///< commas and the like inside the line, where speakers often pause
};

/// Estimates a line as uploaded (punctuation as tokens, the upload's line markers): one syllable
/// for each Chinese character, Latin words by their vowel groups (capitals spelt out), numbers as
/// Chinese reads them.
SpokenLength spokenLength(const std::string& uploadedLine);

}  // namespace quillora::server
