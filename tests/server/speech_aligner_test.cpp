#include <gtest/gtest.h>

#include <cmath>

#include "server/speech_aligner.h"
#include "server/spoken_signal.h"

namespace quillora::server {
namespace {
using quillora::testing::makeSpokenSignal;
using quillora::testing::scriptLine;
using quillora::testing::SpokenLine;

TEST(SpokenLength, CountsSyllablesOfCharactersWordsAndNumbers) {
    const struct {
        std::string line;
        double syllables;
        int pauses;
    } cases[] = {
        {"你好砚19篁世界砚20篁", 4, 1},  // tokens are not spoken; the comma is a pause
        {"火车8点出发", 6, 0},
        {"这次有150人", 8, 0},              // 一百五十
        {"2024年", 5, 0},                   // a year digit by digit
        {"会议定在3月15号", 9, 0},          // 十五
        {"2.5公里", 5, 0},                  // 二点五
        {"增长了12%", 8, 0},                // 百分之十二
        {"他用iPhone看NBA砚0篁OK", 10, 1},  // i-phone, N-B-A, O-K
        {"好ok", 1, 0},                     // the upload's marker of a one-character line
        {"砚20篁砚1篁", 0, 0},
    };
    for (const auto& c : cases) {
        const SpokenLength length = spokenLength(c.line);
        EXPECT_EQ(length.syllables, c.syllables) << c.line;
        EXPECT_EQ(length.pauses, c.pauses) << c.line;
    }
}

// Lines of known onsets, one script line not spoken and one burst of speech in no line: every
// start lands within 15 ms of the truth, the missing line is reported, the burst is nobody's.
TEST(SpeechAligner, StartsLandOnTheOnsetsAndMissingLinesAreReported) {
    const std::vector<SpokenLine> spoken = {{5, 0, 0.45}, {11, 6, 0.8}, {4, 0, 0.35}, {2, 0, 0.5},
                                            {9, 0, 0.6},  {13, 7, 0.4}, {6, 0, 0}};
    const auto signal = makeSpokenSignal(spoken);
    // Script: the spoken lines, an unspoken one after the third, a punctuation-only one before
    // the last. The two-syllable line is too short to tell from a cough, so it stays scripted.
    std::vector<SpokenLength> script;
    std::vector<int> truth;  // index into spoken, -1 missing, -2 punctuation only
    for (size_t i = 0; i < spoken.size(); ++i) {
        script.push_back(spokenLength(scriptLine(spoken[i].syllables, spoken[i].commaAfter)));
        truth.push_back(static_cast<int>(i));
        if (i == 2) {
            script.push_back(spokenLength(scriptLine(14, 8)));
            truth.push_back(-1);
        }
        if (i + 2 == spoken.size()) {
            script.push_back(spokenLength("砚20篁"));
            truth.push_back(-2);
        }
    }
    const auto ranges = placeLines(analyseSpeech(signal.samples, 16000), script);
    ASSERT_EQ(ranges.size(), script.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (truth[i] == -1) {
            EXPECT_TRUE(ranges[i].missing) << i;
        } else if (truth[i] == -2) {
            EXPECT_FALSE(ranges[i].missing);
            EXPECT_GE(ranges[i].start, ranges[i - 1].end) << "in the pause before the next line";
            EXPECT_LE(ranges[i].end, ranges[i + 1].start);
        } else {
            const auto k = static_cast<size_t>(truth[i]);
            EXPECT_FALSE(ranges[i].missing) << i;
            EXPECT_NEAR(ranges[i].start, signal.onsets[k], 0.015) << i;
            EXPECT_NEAR(ranges[i].end, signal.offsets[k], 0.1) << i;
        }
    }
}

TEST(SpeechAligner, SilenceAndScriptsLongerThanTheSpeechFail) {
    const auto silence = analyseSpeech(std::vector<float>(16000 * 3, 0.0f), 16000);
    EXPECT_THROW(placeLines(silence, {spokenLength("你好")}), AlignmentError);
    const auto oneLine = analyseSpeech(makeSpokenSignal({{4, 0, 0}}).samples, 16000);
    const std::vector<SpokenLength> longScript(30, spokenLength(scriptLine(12)));
    EXPECT_THROW(placeLines(oneLine, longScript), AlignmentError);
    EXPECT_THROW(placeLines(oneLine, {spokenLength("砚20篁")}), AlignmentError) << "nothing to say";
}

}  // namespace
}  // namespace quillora::server
