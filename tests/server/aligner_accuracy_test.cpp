// How well the energy aligner places the lines of synthetic speech: espeak-ng speaks each
// line, the clips are joined with known pauses, and the aligner's start times are compared
// with the known ones. Prints the mean absolute start error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>

#include "platform/files.h"
#include "platform/media/media_file.h"
#include "platform/paths.h"
#include "server/aligner.h"
#include "server/test_platform.h"
#include "text/unicode.h"

namespace quillora::server {
namespace {
namespace fs = std::filesystem;

// A 16 kHz mono WAV of the samples, through the ffmpeg command line.
void writeWav16k(const fs::path& file, const std::vector<float>& samples) {
    const fs::path raw = file.string() + ".f32";
    writeFileAtomically(raw, std::string(reinterpret_cast<const char*>(samples.data()),
                                         samples.size() * sizeof(float)));
    if (!testing::runCommand("ffmpeg -nostdin -y -f f32le -ar 16000 -ac 1 -i '" + raw.string() +
                             "' -c:a pcm_s16le '" + file.string() + "'")) {
        throw std::runtime_error("ffmpeg could not write " + file.string());
    }
}

// The speech of one line without the synthesiser's own leading and trailing silence.
std::vector<float> speak(const fs::path& folder, const std::string& line, int index) {
    const fs::path clip = folder / ("clip" + std::to_string(index) + ".wav");
    const std::string command = "espeak-ng -v cmn -s 170 -w '" + clip.string() + "' '" + line + "'";
    if (!testing::runCommand(command)) throw std::runtime_error("espeak-ng failed");
    std::vector<float> samples = media::decodeAudioMono(clip);
    const auto loud = [](float s) { return std::abs(s) > 0.01f; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    return std::vector<float>(first, last);
}

// Speaks the ten lines with the given pauses between them and returns the mean absolute start
// error of the aligner in milliseconds.
double measure(const std::vector<double>& pauses) {
    const std::vector<std::string> spoken = {
        "今天天气很好，我们去公园散步吧。",
        "你好。",
        "这个城市的冬天总是来得很早，大家都穿上了厚厚的外套。",
        "我不知道他什么时候回来。",
        "请把窗户打开。",
        "昨天晚上我看了一部很长的电影，故事讲的是一个小镇上的医生。",
        "谢谢你的帮助。",
        "火车八点出发，我们七点半在车站门口见面。",
        "好的。",
        "明天见，路上小心。",
    };
    // What the platform receives: the script with its punctuation as tokens.
    std::vector<std::string> uploaded;
    for (const auto& line : spoken) {
        uploaded.push_back(replaceAll(replaceAll(line, "，", "砚19篁"), "。", "砚20篁"));
    }

    testing::TempDir dir;
    std::vector<float> recording(static_cast<size_t>(0.6 * 16000), 0.0f);
    std::vector<double> truth;
    for (size_t i = 0; i < spoken.size(); ++i) {
        if (i > 0)
            recording.resize(recording.size() + static_cast<size_t>(pauses[i - 1] * 16000), 0.0f);
        truth.push_back(static_cast<double>(recording.size()) / 16000.0);
        const auto clip = speak(dir.path(), spoken[i], static_cast<int>(i));
        recording.insert(recording.end(), clip.begin(), clip.end());
    }
    recording.resize(recording.size() + 8000, 0.0f);
    // A faint hiss, as a real room has.
    std::uint32_t seed = 12345;
    for (float& sample : recording) {
        seed = seed * 1664525u + 1013904223u;
        sample += (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 0.002f;
    }
    const fs::path wav = dir / "speech.wav";
    writeWav16k(wav, recording);

    const auto ranges = makeEnergyAligner()->align(wav, uploaded, {});
    EXPECT_EQ(ranges.size(), truth.size());
    if (ranges.size() != truth.size()) return 1e9;
    double total = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        const double error = std::abs(ranges[i].start - truth[i]);
        total += error;
        std::cout << "line " << i + 1 << ": true start " << truth[i] << " s, aligned "
                  << ranges[i].start << " s, error " << std::lround(error * 1000) << " ms\n";
    }
    const double meanMs = total / static_cast<double>(truth.size()) * 1000.0;
    std::cout << "mean absolute start error: " << std::lround(meanMs) << " ms over " << truth.size()
              << " lines\n";
    return meanMs;
}

TEST(AlignerAccuracy, SyntheticSpeechWithClearAndShortPauses) {
    // The limits are far looser than what the baseline reaches: they catch a broken analysis,
    // not noise. Short pauses are no longer than the synthesiser's pauses at commas in a line.
    const double clearMs = measure({0.45, 0.8, 0.35, 0.6, 1.2, 0.4, 0.7, 0.5, 0.9});
    RecordProperty("clear_pauses_mean_absolute_start_error_ms", std::lround(clearMs));
    EXPECT_LT(clearMs, 200.0);
    const double shortMs = measure(std::vector<double>(9, 0.2));
    RecordProperty("short_pauses_mean_absolute_start_error_ms", std::lround(shortMs));
    EXPECT_LT(shortMs, 500.0);
}

}  // namespace
}  // namespace quillora::server
