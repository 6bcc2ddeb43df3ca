#pragma once

// Speech-like recordings whose line onsets are known to the sample: each syllable is a voiced
// harmonic burst with a sharp attack, lines are runs of syllables with pauses between them, and
// a faint noise runs throughout.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "server/test_platform.h"

namespace quillora::testing {

struct SpokenLine {
    int syllables = 0;
    int commaAfter = 0;     ///< syllables before a pause inside the line; 0 for none
    double pauseAfter = 0;  ///< seconds of pause after the line
};

struct SpokenSignal {
    static constexpr int kRate = 16000;
    std::vector<float> samples;
    std::vector<double> onsets;   ///< seconds, one per line
    std::vector<double> offsets;  ///< seconds, one per line
};

inline SpokenSignal makeSpokenSignal(const std::vector<SpokenLine>& lines, double lead = 0.7) {
    SpokenSignal signal;
    const auto rate = static_cast<double>(SpokenSignal::kRate);
    signal.samples.assign(static_cast<size_t>(lead * rate), 0.0f);
    const size_t syllable = static_cast<size_t>(0.22 * rate);
    const size_t attack = static_cast<size_t>(0.005 * rate);
    const size_t release = static_cast<size_t>(0.08 * rate);
    for (size_t l = 0; l < lines.size(); ++l) {
        signal.onsets.push_back(static_cast<double>(signal.samples.size()) / rate);
        const double f0 = 110.0 + 25.0 * static_cast<double>(l % 4);
        for (int s = 0; s < lines[l].syllables; ++s) {
            if (s > 0 && s == lines[l].commaAfter)
                signal.samples.resize(signal.samples.size() + static_cast<size_t>(0.3 * rate));
            const double pitch = f0 * (1.0 + 0.08 * std::sin(1.7 * s));
            for (size_t i = 0; i < syllable; ++i) {
                const double t = static_cast<double>(i) / rate;
                double envelope = 1.0;
                if (i < attack) envelope = static_cast<double>(i) / static_cast<double>(attack);
                if (i + release > syllable)
                    envelope = static_cast<double>(syllable - i) / static_cast<double>(release);
                double value = 0;
                for (int k = 1; k <= 10; ++k)
                    value += std::sin(2 * M_PI * pitch * k * t) / k;
                signal.samples.push_back(static_cast<float>(0.15 * envelope * value));
            }
        }
        signal.offsets.push_back(static_cast<double>(signal.samples.size()) / rate);
        signal.samples.resize(signal.samples.size() +
                              static_cast<size_t>(lines[l].pauseAfter * rate));
    }
    signal.samples.resize(signal.samples.size() + static_cast<size_t>(0.5 * rate));
    std::uint32_t seed = 99;
    for (float& sample : signal.samples) {
        seed = seed * 1664525u + 1013904223u;
        sample += (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 0.002f;
    }
    return signal;
}

/// The samples as an audio file of the given extension (wav, m4a), through ffmpeg.
inline std::filesystem::path writeAudio(const std::filesystem::path& file,
                                        const std::vector<float>& samples) {
    const std::filesystem::path raw = file.string() + ".f32";
    writeFileAtomically(raw, std::string(reinterpret_cast<const char*>(samples.data()),
                                         samples.size() * sizeof(float)));
    if (!runCommand("ffmpeg -nostdin -y -f f32le -ar 16000 -ac 1 -i '" + raw.string() + "' '" +
                    file.string() + "'")) {
        throw std::runtime_error("ffmpeg could not write " + file.string());
    }
    return file;
}

/// A script line of n Chinese characters, with a comma after `commaAfter` of them.
inline std::string scriptLine(int syllables, int commaAfter = 0) {
    static const std::vector<std::string> characters = {"天", "气", "很", "好", "我", "们",
                                                        "去", "公", "园", "散", "步", "吧"};
    std::string line;
    for (int i = 0; i < syllables; ++i) {
        if (i > 0 && i == commaAfter) line += "砚19篁";
        line += characters[static_cast<size_t>(i) % characters.size()];
    }
    return line + "砚20篁";
}

}  // namespace quillora::testing
