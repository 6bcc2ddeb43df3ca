#include <gtest/gtest.h>

#include "extraction/recognition_pool.h"
#include "extraction/script_vote.h"

namespace quillora::extraction {
namespace {

TEST(ScriptVote, SimplifiedUnlessTheCuesClearlyLeanTraditional) {
    ScriptVote vote;
    EXPECT_FALSE(vote.traditional());
    vote.add(0.79);  // one unsure cue does not outweigh the Simplified start
    EXPECT_FALSE(vote.traditional());
    vote.add(0.9);
    vote.add(5.0);  // clamped to 2
    EXPECT_TRUE(vote.traditional());
}

RecognitionJob compared(const std::string& simplified, const std::string& traditional, double lead,
                        int confidence = 80) {
    RecognitionJob job;
    job.simplifiedText = simplified;
    job.traditionalText = traditional;
    job.traditionalLead = lead;
    job.text = lead > ocr::kTraditionalLead ? traditional : simplified;
    job.confidence = confidence;
    return job;
}

RecognitionJob simplifiedOnly(const std::string& text) {
    RecognitionJob job;
    job.script = ocr::ScriptChoice::simplified;
    job.text = job.simplifiedText = text;
    job.confidence = 80;
    return job;
}

TEST(CombineReadings, OneScriptPerCueAndTheReadingTheOthersAgreeWith) {
    const struct {
        const char* name;
        std::vector<RecognitionJob> readings;
        std::string expected;
    } cases[] = {
        {"a misreading is outvoted",
         {compared("这次我们去山项", "這次我們去山項", -2), simplifiedOnly("这次我们去山顶"),
          simplifiedOnly("这次我们去山顶")},
         "这次我们去山顶"},
        {"a strong lead makes the whole cue Traditional, and a reading in the other script "
         "alone takes no part",
         {compared("这次我们去山顶", "這次我們去山頂", 3), simplifiedOnly("这次我们去山项"),
          compared("这次我们去山项", "這次我們去山頂", 3)},
         "這次我們去山頂"},
        {"a weak lead stays Simplified", {compared("谢谢你", "謝謝你", 0.5)}, "谢谢你"},
        {"unreadable readings are left out",
         {RecognitionJob{}, simplifiedOnly("好的"), RecognitionJob{}},
         "好的"},
        {"Latin lines are kept as read",
         {[] {
             RecognitionJob job;
             job.text = "Hello there";
             return job;
         }()},
         "Hello there"},
        {"nothing readable", {RecognitionJob{}}, ""},
    };
    for (const auto& c : cases) {
        std::vector<const RecognitionJob*> readings;
        for (const auto& job : c.readings)
            readings.push_back(&job);
        ScriptVote vote;
        EXPECT_EQ(combineReadings(readings, vote), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace quillora::extraction
