#pragma once

#include <string>
#include <vector>

namespace quillora::extraction {

struct RecognitionJob;

/// One video's cues are nearly always in one script, and one cue's evidence is weak (small
/// sizes, serif faces), so the Traditional leads of the cues so far decide together.
/// Simplified comes first: the vote starts with one cue's worth of lead for it.
class ScriptVote {
  public:
    static constexpr double kSimplifiedPrior = -0.7;
    static constexpr double kLeadClamp = 2.0;  // one misread cue must not outvote the rest

    void add(double lead);
    bool traditional() const;

  private:
    double sum_ = kSimplifiedPrior;
    int count_ = 1;
};

/// The text of one cue from its readings (finished jobs, in frame order): the script is chosen
/// once for the whole cue by `vote`, after the cue's mean lead (over the readings that compared
/// both) has joined it; the text is the reading in that script that agrees most with the
/// others (fewest edits to them; the surer, then the earlier, on ties). Unreadable readings
/// (empty text) are left out; none readable gives "".
std::string combineReadings(const std::vector<const RecognitionJob*>& readings, ScriptVote& vote);

}  // namespace quillora::extraction
