#pragma once

#include <string>
#include <vector>

namespace quillora::extraction {

struct RecognitionJob;

/// The text of one cue from its readings (finished jobs, in frame order): the reading that
/// agrees most with the others (fewest edits to them; the surer, then the earlier, on ties), so
/// that one misread frame is outvoted. Unreadable readings (empty text) are left out; none
/// readable gives "". The text is in one Chinese script, the one most of its characters show.
std::string combineReadings(const std::vector<const RecognitionJob*>& readings);

}  // namespace quillora::extraction
