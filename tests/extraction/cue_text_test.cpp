#include <gtest/gtest.h>

#include "extraction/cue_text.h"
#include "extraction/recognition_pool.h"

namespace quillora::extraction {
namespace {

RecognitionJob reading(const std::string& text, int confidence = 80) {
    RecognitionJob job;
    job.text = text;
    job.confidence = confidence;
    return job;
}

TEST(CombineReadings, TheReadingTheOthersAgreeWith) {
    const struct {
        const char* name;
        std::vector<RecognitionJob> readings;
        std::string expected;
    } cases[] = {
        {"a misreading is outvoted",
         {reading("这次我们去山项", 95), reading("这次我们去山顶"), reading("这次我们去山顶")},
         "这次我们去山顶"},
        {"two that disagree: the surer", {reading("谢谢你", 70), reading("谢谢您", 90)}, "谢谢您"},
        {"unreadable readings are left out",
         {RecognitionJob{}, reading("好的"), RecognitionJob{}},
         "好的"},
        {"nothing readable", {RecognitionJob{}}, ""},
        {"a Traditional cue has no Simplified character",
         {reading("他终於找到了這個新工作")},
         "他終於找到了這個新工作"},
        {"a Simplified cue has no Traditional character",
         {reading("这次我们去山頂")},
         "这次我们去山顶"},
        {"as many of each: left as read", {reading("这個")}, "这個"},
    };
    for (const auto& c : cases) {
        std::vector<const RecognitionJob*> readings;
        for (const auto& job : c.readings)
            readings.push_back(&job);
        EXPECT_EQ(combineReadings(readings), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace quillora::extraction
