#include "server/speech_analysis.h"

extern "C" {
#include <libavutil/tx.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "server/aligner.h"

namespace quillora::server {
namespace {

constexpr int kRate = 16000;
constexpr std::size_t kHopSamples = 160;
constexpr std::size_t kWindow = 400;  // 25 ms
constexpr int kFft = 512;
constexpr std::size_t kBins = kFft / 2 + 1;
constexpr int kBands = 24;
constexpr double kLowHz = 100, kHighHz = 7800;
// Bands whose centres lie in the first formants: where vowels, and so syllables, are loud.
constexpr double kVowelLowHz = 250, kVowelHighHz = 3500;

// The floor is a low percentile of each band over a stretch of this many frames around the
// frame, re-estimated every kFloorStep frames: slow changes of room noise are followed, and speech
// is not mistaken for noise, since it rarely leaves less than a twentieth of 20 s without sound.
constexpr std::size_t kFloorSpan = 2000;
constexpr std::size_t kFloorStep = 200;
constexpr double kFloorPercentile = 0.05;
// The noise's own spread, from a second percentile: a band counts as risen only above the top
// of its noise (about its 95th percentile), so the loudest bands of plain noise stay near 0 dB.
constexpr double kSpreadPercentile = 0.20;
constexpr double kNoiseTop = 3.3;        // spreads from the floor to the top of the noise
constexpr double kLargestNoiseTop = 10;  // dB: more spread than this is speech, not noise
constexpr int kTopBands = 6;             // level = mean rise of the loudest bands over their noise
constexpr double kQuietBelowLoud = 50;   // dB under the recording's loud level that never counts

constexpr float kSpeechLevel = 12;   // dB: a frame surely holds speech
constexpr float kEdgeLevel = 6;      // dB: a frame next to speech still belongs to it
constexpr std::size_t kMinSure = 3;  // frames of sure speech a stretch needs
constexpr std::size_t kMinStretch = 5;

struct TxFreer {
    void operator()(AVTXContext* context) const { av_tx_uninit(&context); }
};

// Real-to-complex DFT of kFft samples (kBins complex values, interleaved).
class RealTransform {
  public:
    RealTransform() {
        AVTXContext* context = nullptr;
        const float scale = 1.0f;
        if (av_tx_init(&context, &function_, AV_TX_FLOAT_RDFT, 0, kFft, &scale, AV_TX_UNALIGNED) <
                0 ||
            !context) {
            throw AlignmentError("无法初始化频谱分析");
        }
        context_.reset(context);
    }
    void run(float* out, float* in) { function_(context_.get(), out, in, sizeof(float)); }

  private:
    std::unique_ptr<AVTXContext, TxFreer> context_;
    av_tx_fn function_ = nullptr;
};

double melOf(double hz) {
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}
double hzOf(double mel) {
    return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0);
}

struct Band {
    std::size_t firstBin = 0;
    std::vector<float> weights;
    double centreHz = 0;
};

std::vector<Band> melBands() {
    std::vector<Band> bands(kBands);
    const double low = melOf(kLowHz), high = melOf(kHighHz);
    const double binHz = static_cast<double>(kRate) / kFft;
    for (int b = 0; b < kBands; ++b) {
        const double left = hzOf(low + (high - low) * b / (kBands + 1));
        const double centre = hzOf(low + (high - low) * (b + 1) / (kBands + 1));
        const double right = hzOf(low + (high - low) * (b + 2) / (kBands + 1));
        Band& band = bands[static_cast<std::size_t>(b)];
        band.centreHz = centre;
        band.firstBin = static_cast<std::size_t>(std::ceil(left / binHz));
        for (std::size_t bin = band.firstBin; bin < kBins && bin * binHz < right; ++bin) {
            const double hz = static_cast<double>(bin) * binHz;
            const double w =
                hz < centre ? (hz - left) / (centre - left) : (right - hz) / (right - centre);
            band.weights.push_back(static_cast<float>(std::max(0.0, w)));
        }
        if (band.weights.empty()) band.weights.push_back(1.0f);
    }
    return bands;
}

float percentileOf(std::vector<float>& values, double fraction) {
    if (values.empty()) return 0;
    const auto index = std::min(
        values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                     values.end());
    return values[index];
}

void checkStop(const std::stop_token& stopToken) {
    if (stopToken.stop_requested()) throw AlignmentError("已取消");
}

}  // namespace

double SpeechAnalysis::timeOf(std::size_t frame) {
    // A frame's level rises once its window has taken in about half of a new sound.
    return static_cast<double>(frame) * kHop + 0.5 * static_cast<double>(kWindow) / kRate;
}

SpeechAnalysis analyseSpeech(const std::vector<float>& input, int sampleRate,
                             std::stop_token stopToken) {
    if (sampleRate != kRate) throw AlignmentError("语音分析需要 16 kHz 采样");
    SpeechAnalysis analysis;
    analysis.duration = static_cast<double>(input.size()) / kRate;
    const std::size_t frames =
        input.size() < kWindow ? 0 : (input.size() - kWindow) / kHopSamples + 1;
    if (frames == 0) return analysis;

    static const std::vector<Band> bands = melBands();
    std::array<float, kFft> window{};
    for (std::size_t i = 0; i < kWindow; ++i)
        window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) /
                                                            static_cast<double>(kWindow - 1)));

    RealTransform forward;
    std::vector<float> bandPower(frames * kBands);
    std::vector<float> bandDb(frames * kBands);
    std::vector<float> totalDb(frames);
    std::array<float, kFft + 2> in{}, spectrum{};
    std::array<float, kBins> power{};
    for (std::size_t f = 0; f < frames; ++f) {
        if (f % 4096 == 0) checkStop(stopToken);
        const float* x = input.data() + f * kHopSamples;
        std::fill(in.begin(), in.end(), 0.0f);
        for (std::size_t i = 0; i < kWindow; ++i)
            in[i] = x[i] * window[i];
        forward.run(spectrum.data(), in.data());
        for (std::size_t k = 0; k < kBins; ++k)
            power[k] =
                spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];
        double total = 0;
        for (std::size_t b = 0; b < kBands; ++b) {
            const Band& band = bands[b];
            double sum = 0;
            for (std::size_t j = 0; j < band.weights.size() && band.firstBin + j < kBins; ++j)
                sum += band.weights[j] * power[band.firstBin + j];
            bandPower[f * kBands + b] = static_cast<float>(sum);
            bandDb[f * kBands + b] = static_cast<float>(10.0 * std::log10(sum + 1e-10));
            total += sum;
        }
        totalDb[f] = static_cast<float>(10.0 * std::log10(total + 1e-10));
    }
    checkStop(stopToken);

    // Noise floor of each band and the top of its noise, followed slowly through the recording.
    std::vector<float> floorDb(frames * kBands);
    std::vector<float> noiseTopDb(frames * kBands);
    {
        const std::size_t points = (frames + kFloorStep - 1) / kFloorStep;
        std::vector<float> grid(points * kBands), tops(points * kBands);
        std::vector<float> values;
        for (std::size_t p = 0; p < points; ++p) {
            const std::size_t centre = p * kFloorStep + kFloorStep / 2;
            std::size_t first = centre > kFloorSpan / 2 ? centre - kFloorSpan / 2 : 0;
            std::size_t last = std::min(frames, first + kFloorSpan);
            first = last > kFloorSpan ? last - kFloorSpan : 0;
            for (std::size_t b = 0; b < kBands; ++b) {
                values.clear();
                for (std::size_t f = first; f < last; ++f)
                    values.push_back(bandDb[f * kBands + b]);
                const float floor = percentileOf(values, kFloorPercentile);
                const float spread = percentileOf(values, kSpreadPercentile) - floor;
                grid[p * kBands + b] = floor;
                tops[p * kBands + b] = floor + static_cast<float>(std::min(
                                                   kLargestNoiseTop, kNoiseTop * spread / 0.8));
            }
        }
        for (std::size_t f = 0; f < frames; ++f) {
            const double position = (static_cast<double>(f) + 0.5) / kFloorStep - 0.5;
            const auto p0 = static_cast<std::size_t>(
                std::clamp(std::floor(position), 0.0, static_cast<double>(points - 1)));
            const std::size_t p1 = std::min(points - 1, p0 + 1);
            const double t = std::clamp(position - static_cast<double>(p0), 0.0, 1.0);
            for (std::size_t b = 0; b < kBands; ++b) {
                floorDb[f * kBands + b] =
                    static_cast<float>((1 - t) * grid[p0 * kBands + b] + t * grid[p1 * kBands + b]);
                noiseTopDb[f * kBands + b] =
                    static_cast<float>((1 - t) * tops[p0 * kBands + b] + t * tops[p1 * kBands + b]);
            }
        }
    }

    // Level: how far the loudest bands rise above their noise. Frames far below the loud parts
    // of the recording never count, so a clean recording's faint hum or echo is no speech.
    std::vector<float> sorted(totalDb);
    const float loud = percentileOf(sorted, 0.97);
    std::vector<float> raw(frames);
    std::array<float, kBands> rise{};
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t b = 0; b < kBands; ++b)
            rise[b] = std::max(0.0f, bandDb[f * kBands + b] - noiseTopDb[f * kBands + b]);
        std::partial_sort(rise.begin(), rise.begin() + kTopBands, rise.end(), std::greater<>());
        float sum = 0;
        for (int b = 0; b < kTopBands; ++b)
            sum += rise[static_cast<std::size_t>(b)];
        raw[f] = totalDb[f] < loud - kQuietBelowLoud ? 0.0f : sum / kTopBands;
    }
    analysis.level.resize(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const float a = raw[f > 0 ? f - 1 : f], b = raw[f], c = raw[std::min(frames - 1, f + 1)];
        analysis.level[f] = std::max(std::min(a, b), std::min(std::max(a, b), c));  // median
    }

    // Speech: stretches of frames above the edge level that hold enough sure speech.
    analysis.speech.assign(frames, false);
    for (std::size_t f = 0; f < frames;) {
        if (analysis.level[f] < kEdgeLevel) {
            ++f;
            continue;
        }
        std::size_t end = f, sure = 0;
        while (end < frames && analysis.level[end] >= kEdgeLevel) {
            if (analysis.level[end] >= kSpeechLevel) ++sure;
            ++end;
        }
        if (sure >= kMinSure && end - f >= kMinStretch)
            std::fill(analysis.speech.begin() + static_cast<std::ptrdiff_t>(f),
                      analysis.speech.begin() + static_cast<std::ptrdiff_t>(end), true);
        f = end;
    }

    // Syllable nuclei: peaks of the vowel-band loudness with a dip before the next one.
    std::vector<float> vowel(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (std::size_t b = 0; b < kBands; ++b) {
            if (bands[b].centreHz < kVowelLowHz || bands[b].centreHz > kVowelHighHz) continue;
            const double floorPower = std::pow(10.0, floorDb[f * kBands + b] / 10.0);
            sum += std::max(0.0, bandPower[f * kBands + b] - 2.0 * floorPower);
        }
        vowel[f] = static_cast<float>(10.0 * std::log10(sum + 1e-10));
    }
    std::vector<float> envelope(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        double sum = 0, weight = 0;
        for (int d = -2; d <= 2; ++d) {
            const auto g = static_cast<std::ptrdiff_t>(f) + d;
            if (g < 0 || g >= static_cast<std::ptrdiff_t>(frames)) continue;
            const double w = 3 - std::abs(d);
            sum += w * vowel[static_cast<std::size_t>(g)];
            weight += w;
        }
        envelope[f] = static_cast<float>(sum / weight);
    }
    analysis.nuclei = [&] {
        constexpr std::size_t kReach = 5;  // a peak is the highest within 50 ms each side
        constexpr float kDip = 2.0f;       // dB the loudness must fall between two syllables
        std::vector<std::size_t> peaks;
        for (std::size_t f = kReach; f + kReach < frames; ++f) {
            if (!analysis.speech[f] || analysis.level[f] < kSpeechLevel) continue;
            bool highest = true;
            for (std::size_t g = f - kReach; g <= f + kReach && highest; ++g)
                highest =
                    g == f || envelope[g] < envelope[f] || (envelope[g] == envelope[f] && g > f);
            if (!highest) continue;
            if (!peaks.empty()) {
                const std::size_t previous = peaks.back();
                float lowest = envelope[f];
                bool pause = false;
                for (std::size_t g = previous; g <= f; ++g) {
                    lowest = std::min(lowest, envelope[g]);
                    pause = pause || !analysis.speech[g];
                }
                if (!pause && std::min(envelope[previous], envelope[f]) - lowest < kDip) {
                    if (envelope[f] > envelope[previous]) peaks.back() = f;
                    continue;
                }
            }
            peaks.push_back(f);
        }
        return peaks;
    }();
    return analysis;
}

std::vector<Gap> findGaps(const SpeechAnalysis& analysis) {
    // How far around a place the speech it separates is looked for, how deep a dip must be to
    // separate two sounds, and how far below them a frame counts as quiet.
    constexpr std::size_t kReach = 40;
    constexpr float kDipDepth = 25;
    constexpr float kQuietDepth = 20;
    constexpr std::size_t kDipWidth = 10;
    const std::vector<float>& level = analysis.level;
    const std::size_t frames = analysis.frames();
    const auto peakIn = [&](std::size_t from, std::size_t to) {
        float peak = 0;
        for (std::size_t f = from; f < std::min(to, frames); ++f)
            peak = std::max(peak, level[f]);
        return peak;
    };
    const auto quietAround = [&](std::size_t begin, std::size_t end) {
        const float reference =
            std::min(peakIn(begin > kReach ? begin - kReach : 0, begin), peakIn(end, end + kReach));
        std::size_t first = begin, last = end;
        while (first > 0 && level[first - 1] < reference - kQuietDepth)
            --first;
        while (last < frames && level[last] < reference - kQuietDepth)
            ++last;
        return last - first;
    };

    std::vector<Gap> gaps;
    std::size_t f = 0;
    while (f < frames && !analysis.speech[f])
        ++f;
    while (f < frames) {
        const std::size_t runStart = f;
        while (f < frames && analysis.speech[f])
            ++f;
        // Deep dips inside the stretch of speech: a pause that echo or noise kept above the floor.
        for (std::size_t m = runStart + kDipWidth; m + kDipWidth < f; ++m) {
            bool lowest = true;
            for (std::size_t g = m - kDipWidth; g <= m + kDipWidth && lowest; ++g)
                lowest = level[g] > level[m] || (level[g] == level[m] && g >= m);
            if (!lowest) continue;
            const float depth =
                std::min(peakIn(m > kReach ? m - kReach : 0, m), peakIn(m, m + kReach)) - level[m];
            if (depth < kDipDepth) continue;
            std::size_t rise = m + 1;
            while (rise < f && level[rise] < level[m] + kEdgeLevel)
                ++rise;
            gaps.push_back({m, rise, quietAround(m, rise)});
        }
        const std::size_t begin = f;
        while (f < frames && !analysis.speech[f])
            ++f;
        if (f < frames) gaps.push_back({begin, f, quietAround(begin, f)});
    }
    return gaps;
}

}  // namespace quillora::server
