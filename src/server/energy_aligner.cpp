#include <algorithm>
#include <cmath>
#include <limits>

#include "server/aligner.h"
#include "text/unicode.h"

namespace quillora::server {
namespace {

constexpr int kAnalysisSampleRate = 16000;
constexpr double kHop = 0.010;          // analysis step
constexpr double kWindow = 0.025;       // analysis window
constexpr double kBridgeGap = 0.100;    // silences shorter than this stay inside speech
constexpr double kMinBurst = 0.060;     // sounds shorter than this are clicks, not speech
constexpr double kMinPause = 0.150;     // shortest silence a line boundary may snap to
constexpr double kUnsnappedCost = 1.5;  // seconds of distance a boundary may travel to a pause

// Runs of equal flags as [first, last) frame index pairs.
std::vector<std::pair<size_t, size_t>> runsOf(const std::vector<bool>& flags, bool value) {
    std::vector<std::pair<size_t, size_t>> runs;
    size_t i = 0;
    while (i < flags.size()) {
        if (flags[i] != value) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < flags.size() && flags[j] == value)
            ++j;
        runs.emplace_back(i, j);
        i = j;
    }
    return runs;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    const size_t index = std::min(
        values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                     values.end());
    return values[index];
}

class EnergyAligner final : public Aligner {
  public:
    std::vector<LineTiming> align(const std::filesystem::path& audio,
                                  const std::vector<std::string>& lines, std::stop_token stopToken,
                                  const AlignmentProgress& progress) override {
        const std::vector<float> samples =
            decodeForAlignment(audio, lines, kAnalysisSampleRate, stopToken);
        if (progress) progress(1);
        const SpeechMap speech = findSpeech(samples, kAnalysisSampleRate);
        if (progress) progress(2);
        std::vector<double> weights;
        weights.reserve(lines.size());
        for (const std::string& line : lines)
            weights.push_back(lineWeight(line));
        return distributeLines(speech, weights);
    }
};

}  // namespace

std::unique_ptr<Aligner> makeEnergyAligner() {
    return std::make_unique<EnergyAligner>();
}

double lineWeight(const std::string& line) {
    // Punctuation travels as tokens (砚N篁) and quotation marks as emoji: neither is spoken.
    static const UnicodeRegex tokens("砚[0-9]*篁");
    const std::string spoken = tokens.replaceAll(line, "");
    double weight = 0;
    for (std::string_view cluster : graphemes(spoken)) {
        const std::u32string points = codePoints(cluster);
        if (!points.empty() && (isLetter(points.front()) || isNumber(points.front()))) weight += 1;
    }
    return std::max(weight, 1.0);
}

SpeechMap findSpeech(const std::vector<float>& samples, int sampleRate) {
    const auto hop = static_cast<size_t>(kHop * sampleRate);
    const auto window = static_cast<size_t>(kWindow * sampleRate);
    std::vector<double> energy;
    for (size_t start = 0; start + hop <= samples.size() || start == 0; start += hop) {
        const size_t end = std::min(samples.size(), start + window);
        double sum = 0;
        for (size_t i = start; i < end; ++i)
            sum += static_cast<double>(samples[i]) * samples[i];
        energy.push_back(
            10.0 * std::log10(sum / static_cast<double>(std::max<size_t>(1, end - start)) + 1e-12));
        if (end == samples.size()) break;
    }
    if (energy.empty()) throw AlignmentError("录音太短");

    // The threshold sits between the quiet floor and the loud level of this recording, so the
    // same rule works for a close microphone and for a distant one.
    const double floor = percentile(energy, 0.10);
    const double loud = percentile(energy, 0.95);
    if (loud < -60.0) throw AlignmentError("录音中没有检测到语音");
    // A recording without quiet stretches is speech from end to end.
    const double threshold =
        loud - floor < 6.0 ? floor - 1.0 : std::max(floor + 0.3 * (loud - floor), floor + 3.0);

    std::vector<bool> voiced(energy.size());
    for (size_t i = 0; i < energy.size(); ++i)
        voiced[i] = energy[i] > threshold;
    const auto toFrames = [](double seconds) {
        return static_cast<size_t>(std::lround(seconds / kHop));
    };
    for (const auto& [first, last] : runsOf(voiced, true)) {
        if (last - first < toFrames(kMinBurst)) {
            std::fill(voiced.begin() + static_cast<std::ptrdiff_t>(first),
                      voiced.begin() + static_cast<std::ptrdiff_t>(last), false);
        }
    }
    const auto speechRuns = runsOf(voiced, true);
    if (speechRuns.empty()) throw AlignmentError("录音中没有检测到语音");
    for (const auto& [first, last] : runsOf(voiced, false)) {
        const bool inside = first > speechRuns.front().first && last < voiced.size();
        if (inside && last - first < toFrames(kBridgeGap)) {
            std::fill(voiced.begin() + static_cast<std::ptrdiff_t>(first),
                      voiced.begin() + static_cast<std::ptrdiff_t>(last), true);
        }
    }

    SpeechMap map;
    const auto runs = runsOf(voiced, true);
    map.speechStart = static_cast<double>(runs.front().first) * kHop;
    map.speechEnd = static_cast<double>(runs.back().second) * kHop;
    for (size_t i = 1; i < runs.size(); ++i) {
        const double start = static_cast<double>(runs[i - 1].second) * kHop;
        const double end = static_cast<double>(runs[i].first) * kHop;
        if (end - start >= kMinPause) map.pauses.push_back({start, end});
    }
    return map;
}

std::vector<LineTiming> distributeLines(const SpeechMap& speech,
                                        const std::vector<double>& weights) {
    const size_t count = weights.size();
    if (count == 0) return {};
    double total = 0;
    for (double weight : weights)
        total += weight;

    // Speech segments: the spans between pauses. Boundaries are placed on speaking time, so
    // silence does not push lines later than they are spoken.
    std::vector<std::pair<double, double>> segments;
    double cursor = speech.speechStart;
    for (const Pause& pause : speech.pauses) {
        segments.emplace_back(cursor, pause.start);
        cursor = pause.end;
    }
    segments.emplace_back(cursor, speech.speechEnd);
    double speaking = 0;
    for (const auto& [start, end] : segments)
        speaking += end - start;
    const auto speakingToTime = [&](double offset) {
        for (const auto& [start, end] : segments) {
            if (offset <= end - start) return start + offset;
            offset -= end - start;
        }
        return speech.speechEnd;
    };

    const size_t boundaries = count - 1;
    std::vector<double> targets;
    double cumulative = 0;
    for (size_t k = 0; k < boundaries; ++k) {
        cumulative += weights[k];
        targets.push_back(speakingToTime(speaking * cumulative / total));
    }

    // Snap boundaries to pauses in order, minimising the total distance moved; a boundary
    // with no pause close enough stays where the proportion put it.
    const auto& pauses = speech.pauses;
    const size_t pauseCount = pauses.size();
    const double infinity = std::numeric_limits<double>::infinity();
    const auto distance = [&](size_t k, size_t j) {
        const double t = targets[k];
        if (t < pauses[j].start) return pauses[j].start - t;
        if (t > pauses[j].end) return t - pauses[j].end;
        return 0.0;
    };
    // cost[k][j]: best cost of placing boundaries k.. using pauses j..
    std::vector<std::vector<double>> cost(boundaries + 1,
                                          std::vector<double>(pauseCount + 1, infinity));
    std::vector<std::vector<int>> choice(boundaries + 1, std::vector<int>(pauseCount + 1, 0));
    for (size_t j = 0; j <= pauseCount; ++j)
        cost[boundaries][j] = 0;
    for (size_t k = boundaries; k-- > 0;) {
        for (size_t j = pauseCount + 1; j-- > 0;) {
            double best = kUnsnappedCost + cost[k + 1][j];  // leave unsnapped
            int decision = 0;
            if (j < pauseCount) {
                const double skip = cost[k][j + 1];
                if (skip < best) {
                    best = skip;
                    decision = 1;
                }
                const double take = distance(k, j) + cost[k + 1][j + 1];
                if (take < best) {
                    best = take;
                    decision = 2;
                }
            }
            cost[k][j] = best;
            choice[k][j] = decision;
        }
    }

    std::vector<std::pair<double, double>> cuts;  // (end of line k, start of line k+1)
    size_t j = 0;
    for (size_t k = 0; k < boundaries;) {
        const int decision = choice[k][j];
        if (decision == 1) {
            ++j;
        } else if (decision == 2) {
            cuts.emplace_back(pauses[j].start, pauses[j].end);
            ++j;
            ++k;
        } else {
            cuts.emplace_back(targets[k], targets[k]);
            ++k;
        }
    }

    std::vector<LineTiming> ranges(count);
    double previousEnd = speech.speechStart;
    for (size_t i = 0; i < count; ++i) {
        double start = i == 0 ? speech.speechStart : cuts[i - 1].second;
        double end = i + 1 == count ? speech.speechEnd : cuts[i].first;
        start = std::max(start, previousEnd);
        end = std::max(end, start);
        ranges[i] = {start, end};
        previousEnd = end;
    }
    return ranges;
}

}  // namespace quillora::server
