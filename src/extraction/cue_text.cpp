#include "extraction/cue_text.h"

#include "extraction/recognition_pool.h"
#include "extraction/text_measures.h"
#include "text/chinese_script.h"

namespace quillora::extraction {

std::string combineReadings(const std::vector<const RecognitionJob*>& readings) {
    std::vector<const RecognitionJob*> texts;
    for (const auto* job : readings) {
        if (!job->text.empty()) texts.push_back(job);
    }
    if (texts.empty()) return "";
    size_t best = 0;
    long bestEdits = -1;
    for (size_t a = 0; a < texts.size(); ++a) {
        long edits = 0;
        for (size_t b = 0; b < texts.size(); ++b) {
            if (a != b) edits += editDistance(texts[a]->text, texts[b]->text);
        }
        if (bestEdits < 0 || edits < bestEdits ||
            (edits == bestEdits && texts[a]->confidence > texts[best]->confidence)) {
            best = a;
            bestEdits = edits;
        }
    }
    // The recogniser reads each character in the script it looks like; a cue has one.
    return inOneChineseScript(texts[best]->text);
}

}  // namespace quillora::extraction
