#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "extraction/script_vote.h"

namespace quillora::extraction {
namespace {

TEST(ScriptVote, SimplifiedUnlessTheLinesClearlyLeanTraditional) {
    ScriptVote vote;
    EXPECT_FALSE(vote.traditional());
    vote.add(0.79);  // one unsure line does not outweigh the Simplified start
    EXPECT_FALSE(vote.traditional());
    vote.add(0.9);
    vote.add(5.0);  // clamped to 2
    EXPECT_TRUE(vote.traditional());
    EXPECT_FALSE(vote.settledSimplified());

    ScriptVote simplified;
    simplified.add(-3.0);
    simplified.add(-1.5);
    EXPECT_FALSE(simplified.settledSimplified());  // too few lines yet
    simplified.add(-0.2);
    EXPECT_TRUE(simplified.settledSimplified());
    simplified.add(2.0);  // even a line at the clamp keeps it Simplified
    EXPECT_FALSE(simplified.traditional());
}

TEST(ScriptEvidence, WaitsForEveryEarlierLine) {
    ScriptEvidence evidence;
    EXPECT_FALSE(evidence.settledBefore(0));
    std::atomic<bool> answered{false};
    bool settled = false;
    std::thread reader([&] {
        settled = evidence.settledBefore(3);
        answered = true;
    });
    evidence.report(2, -2.0);
    evidence.report(0, -2.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(answered.load());  // line 1 is still missing
    evidence.report(1, -2.0);
    reader.join();
    EXPECT_TRUE(answered.load());
    EXPECT_TRUE(settled);

    ScriptEvidence mixed;
    mixed.report(0, std::nullopt);  // a line without Chinese says nothing
    mixed.report(1, -2.0);
    EXPECT_FALSE(mixed.settledBefore(2));
}

}  // namespace
}  // namespace quillora::extraction
