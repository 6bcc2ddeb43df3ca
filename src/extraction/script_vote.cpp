#include "extraction/script_vote.h"

#include <algorithm>
#include <string>

#include "extraction/recognition_pool.h"
#include "extraction/text_measures.h"
#include "platform/ocr/text_recognizer.h"

namespace quillora::extraction {
void ScriptVote::add(double lead) {
    sum_ += std::clamp(lead, -kLeadClamp, kLeadClamp);
    ++count_;
}

bool ScriptVote::traditional() const {
    return sum_ / count_ > ocr::kTraditionalLead;
}

std::string combineReadings(const std::vector<const RecognitionJob*>& readings, ScriptVote& vote) {
    double leadSum = 0;
    int leads = 0;
    bool anyTraditionalOnly = false;
    for (const auto* job : readings) {
        if (job->text.empty()) continue;
        if (job->traditionalLead) {
            leadSum +=
                std::clamp(*job->traditionalLead, -ScriptVote::kLeadClamp, ScriptVote::kLeadClamp);
            ++leads;
        } else if (job->script == ocr::ScriptChoice::traditional && !job->traditionalText.empty()) {
            anyTraditionalOnly = true;
        }
    }
    bool traditional = anyTraditionalOnly;
    if (leads > 0) {
        // One cue's lead misleads too often (serif faces read surer in the other script) to
        // decide alone: it joins the video's vote, which decides.
        vote.add(leadSum / leads);
        traditional = vote.traditional();
    }
    // Each reading's text in the cue's script; one read in the other script alone takes no part.
    std::vector<std::pair<std::string, int>> texts;
    for (const auto* job : readings) {
        if (job->text.empty()) continue;
        std::string text = job->text;
        if (job->traditionalLead) {
            text = traditional ? job->traditionalText : job->simplifiedText;
        } else if (!job->simplifiedText.empty() || !job->traditionalText.empty()) {
            const bool readTraditional = !job->traditionalText.empty();
            if (readTraditional != traditional) continue;
        }
        if (!text.empty()) texts.emplace_back(std::move(text), job->confidence);
    }
    if (texts.empty()) return "";
    size_t best = 0;
    long bestEdits = -1;
    for (size_t a = 0; a < texts.size(); ++a) {
        long edits = 0;
        for (size_t b = 0; b < texts.size(); ++b) {
            if (a != b) edits += editDistance(texts[a].first, texts[b].first);
        }
        if (bestEdits < 0 || edits < bestEdits ||
            (edits == bestEdits && texts[a].second > texts[best].second)) {
            best = a;
            bestEdits = edits;
        }
    }
    return texts[best].first;
}

}  // namespace quillora::extraction
