#include "extraction/script_vote.h"

#include <algorithm>
#include <iterator>

#include "platform/ocr/text_recognizer.h"

namespace quillora::extraction {

void ScriptVote::add(double lead) {
    sum_ += std::clamp(lead, -kLeadClamp, kLeadClamp);
    ++count_;
}

bool ScriptVote::traditional() const {
    return sum_ / count_ > ocr::kTraditionalLead;
}

bool ScriptVote::settledSimplified() const {
    // With the mean at or below -0.5 after three lines, even a line at the clamp leaves it
    // below the threshold; stopping then costs at most a late change of script.
    return count_ >= 4 && sum_ / count_ <= -0.5;
}

bool ScriptEvidence::settledBefore(int sequence) {
    std::unique_lock lock(mutex_);
    // Sequences are distinct and start at 0: all of 0..sequence-1 are in when that many keys
    // lie below `sequence`.
    reported_.wait(lock, [&] {
        return std::distance(leads_.begin(), leads_.lower_bound(sequence)) == sequence;
    });
    ScriptVote vote;
    for (auto it = leads_.begin(); it != leads_.end() && it->first < sequence; ++it) {
        if (it->second) vote.add(*it->second);
    }
    return vote.settledSimplified();
}

void ScriptEvidence::report(int sequence, std::optional<double> lead) {
    {
        std::lock_guard lock(mutex_);
        leads_[sequence] = lead;
    }
    reported_.notify_all();
}

}  // namespace quillora::extraction
