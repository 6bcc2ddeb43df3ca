#include "server/speech_aligner.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace quillora::server {
namespace {

constexpr int kAnalysisRate = 16000;
constexpr double kHop = SpeechAnalysis::kHop;

// Costs are in nats (natural-log likelihood units), so the kinds of evidence add up.
// How far lines stray from the local rate and from their count of syllable peaks (log ratios):
// first guesses, then measured on the recording itself after each pass, within these limits.
constexpr double kDurationSpread = 0.22;
constexpr double kNucleusSpread = 0.25;
constexpr double kNarrowestSpread = 0.08;
constexpr double kWidestSpread = 0.40;
constexpr std::size_t kLinesForSpread = 6;
constexpr double kMissingLine = 4.5;        // a script line not in the recording: about 1 in 90
constexpr double kUnscripted = 4.0;         // speech that belongs to no line ...
constexpr double kUnscriptedPerPeak = 0.5;  // ... and grows with its syllables
constexpr double kLongestUnscripted = 4.0;  // seconds of speech one unscripted stretch may hold
constexpr double kFastestRate = 8.0;        // syllables a second nobody speaks faster than
constexpr double kTypicalRate = 4.0;        // and a usual pace, to tell the user
constexpr int kPasses = 3;                  // assignment, then twice again at local rates
constexpr int kRateNeighbours = 5;          // lines each side that set a line's local rate
constexpr double kRatePrior = 15.0;         // syllables of the global rate mixed into a local one
constexpr double kPruneMargin = 60.0;       // states this far behind the best are dropped
// Lines times places the assignment may weigh (about 9 bytes each): some hours of speech with
// thousands of lines; beyond it the task fails rather than exhaust the machine.
constexpr std::size_t kMostStates = std::size_t{150} << 20;

double square(double x) {
    return x * x;
}

// Misfit cost of a log ratio against a spread: Student's t with 4 degrees of freedom. Near the
// spread it is the usual Gaussian; far out it grows slowly, so one line said much faster or
// slower than its neighbours (another speaker) does not outweigh everything else.
double misfitCost(double logRatio, double spread) {
    constexpr double kFreedom = 4;
    return (kFreedom + 1) / 2 * std::log1p(square(logRatio / spread) / kFreedom);
}

// Pause lengths, as log-likelihood ratios against a pause inside a line without punctuation:
// lines mostly end in pauses longer than 0.2 s, words inside a line rarely pause 0.1 s; the
// shortest gaps (a stop consonant's closure) are almost never where a line ends.
double boundaryCost(double seconds) {
    if (seconds < 0.30) return 6.0 - 9.0 * std::max(0.0, seconds - 0.05) / 0.25;
    return -3.0 - 2.0 * std::min(1.0, (seconds - 0.30) / 0.5);
}
// A pause at a comma inside a line is as likely as one between lines, up to about 0.3 s.
double commaCost(double seconds) {
    return -3.0 * std::clamp((seconds - 0.08) / 0.2, 0.0, 1.0);
}

struct Candidate {
    std::size_t begin = 0;  // first non-speech frame
    std::size_t end = 0;    // first speech frame after it
    std::size_t quiet = 0;  // frames of pause, echo included
    double seconds() const { return static_cast<double>(quiet) * kHop; }
};

enum class Step : std::uint8_t { none, start, skip, line, unscripted };

struct Choice {
    int spanStart = -1;  // candidate the line starts after; -1 when the line is missing
    int spanEnd = -1;    // candidate the line ends before
};

class Placement {
  public:
    Placement(const SpeechAnalysis& analysis, std::vector<double> syllables,
              std::vector<int> pauses)
        : syllables_(std::move(syllables)), pauses_(std::move(pauses)) {
        const std::vector<Gap> gaps = findGaps(analysis);
        std::size_t first = 0;
        while (first < analysis.frames() && !analysis.speech[first])
            ++first;
        if (first == analysis.frames()) throw AlignmentError("录音中没有检测到语音");
        std::size_t last = analysis.frames();
        while (!analysis.speech[last - 1])
            --last;
        candidates_.push_back({0, first, first});
        for (const Gap& gap : gaps)
            candidates_.push_back({gap.begin, gap.end, gap.quiet});
        candidates_.push_back({last, analysis.frames(), analysis.frames() - last});

        speechBefore_.assign(candidates_.size(), 0);
        peaksBefore_.assign(candidates_.size(), 0);
        std::size_t peak = 0;
        for (std::size_t c = 1; c < candidates_.size(); ++c) {
            speechBefore_[c] =
                speechBefore_[c - 1] +
                static_cast<double>(candidates_[c].begin - candidates_[c - 1].end) * kHop;
            while (peak < analysis.nuclei.size() && analysis.nuclei[peak] < candidates_[c].begin)
                ++peak;
            peaksBefore_[c] = static_cast<int>(peak);
        }
    }

    double speechSeconds() const { return speechBefore_.back(); }
    int peaks() const { return peaksBefore_.back(); }
    const Candidate& candidate(int c) const { return candidates_[static_cast<std::size_t>(c)]; }

    double speechBetween(int a, int b) const {
        return speechBefore_[static_cast<std::size_t>(b)] -
               speechBefore_[static_cast<std::size_t>(a)];
    }
    int peaksBetween(int a, int b) const {
        return peaksBefore_[static_cast<std::size_t>(b)] -
               peaksBefore_[static_cast<std::size_t>(a)];
    }

    // The best assignment at the given per-line speaking rates (syllables per second of speech)
    // and syllables per detected peak.
    std::vector<Choice> solve(const std::vector<double>& rate, const std::vector<double>& perPeak,
                              double durationSpread, double peakSpread,
                              const std::stop_token& stopToken) const {
        // Each placed line pays the width of its likelihoods, so that narrow ones (a recording
        // whose lines keep to their lengths) make leaving a line out dearer, not cheaper.
        const double widths =
            std::log(durationSpread / kDurationSpread) + std::log(peakSpread / kNucleusSpread);
        const int lines = static_cast<int>(syllables_.size());
        const int count = static_cast<int>(candidates_.size());
        if ((syllables_.size() + 1) * candidates_.size() > kMostStates)
            throw AlignmentError("录音和文稿太长，无法一次对齐，请分段上传");
        const auto at = [count](int i, int c) {
            return static_cast<std::size_t>(i) * static_cast<std::size_t>(count) +
                   static_cast<std::size_t>(c);
        };
        constexpr float kNever = std::numeric_limits<float>::infinity();
        std::vector<float> cost(
            static_cast<std::size_t>(lines + 1) * static_cast<std::size_t>(count), kNever);
        std::vector<int> from(cost.size(), -1);
        std::vector<Step> step(cost.size(), Step::none);
        cost[at(0, 0)] = 0;
        step[at(0, 0)] = Step::start;

        std::vector<double> longest(static_cast<std::size_t>(lines));
        double longestAny = kLongestUnscripted;
        for (int i = 0; i < lines; ++i) {
            const double expected =
                syllables_[static_cast<std::size_t>(i)] / rate[static_cast<std::size_t>(i)];
            longest[static_cast<std::size_t>(i)] = 3.0 * expected + 3.0;
            longestAny = std::max(longestAny, longest[static_cast<std::size_t>(i)]);
        }

        const auto relax = [&](int i, int c, double value, int previous, Step how) {
            float& slot = cost[at(i, c)];
            if (static_cast<float>(value) < slot) {
                slot = static_cast<float>(value);
                from[at(i, c)] = previous;
                step[at(i, c)] = how;
            }
        };

        std::vector<double> commaBonuses;  // cheapest first
        std::vector<double> commaPrefix;
        for (int a = 0; a < count; ++a) {
            if (a % 256 == 0 && stopToken.stop_requested()) throw AlignmentError("已取消");
            float best = kNever;
            for (int i = 0; i <= lines; ++i)
                best = std::min(best, cost[at(i, a)]);
            if (best == kNever) continue;
            // Missing lines first: they stay at this candidate.
            for (int i = 0; i < lines; ++i) {
                const float here = cost[at(i, a)];
                if (here != kNever) relax(i + 1, a, here + kMissingLine, a, Step::skip);
            }
            commaBonuses.clear();
            for (int b = a + 1; b < count; ++b) {
                const double speech = speechBetween(a, b);
                if (speech > longestAny) break;
                const int peaks = peaksBetween(a, b);
                const double endCost = b == count - 1 ? 0.0 : boundaryCost(candidate(b).seconds());
                if (b > a + 1) {
                    const double bonus = commaCost(candidate(b - 1).seconds());
                    if (bonus < 0) {
                        commaBonuses.insert(
                            std::upper_bound(commaBonuses.begin(), commaBonuses.end(), bonus),
                            bonus);
                    }
                }
                commaPrefix.assign(1, 0.0);
                for (double bonus : commaBonuses)
                    commaPrefix.push_back(commaPrefix.back() + bonus);
                for (int i = 0; i <= lines; ++i) {
                    const float here = cost[at(i, a)];
                    if (here == kNever || here > best + kPruneMargin) continue;
                    if (speech <= kLongestUnscripted) {
                        relax(i, b, here + kUnscripted + kUnscriptedPerPeak * peaks + endCost, a,
                              Step::unscripted);
                    }
                    if (i == lines || speech > longest[static_cast<std::size_t>(i)]) continue;
                    const auto line = static_cast<std::size_t>(i);
                    const double n = syllables_[line];
                    const double expectedSpeech = n / rate[line];
                    const double durationCost = misfitCost(
                        std::log((speech + 0.3) / (expectedSpeech + 0.3)), durationSpread);
                    const double peakCost =
                        misfitCost(std::log((peaks + 1.0) / (n / perPeak[line] + 1.0)), peakSpread);
                    const std::size_t commas =
                        std::min(commaBonuses.size(), static_cast<std::size_t>(pauses_[line]));
                    relax(i + 1, b,
                          here + widths + durationCost + peakCost + commaPrefix[commas] + endCost,
                          a, Step::line);
                }
            }
        }

        std::vector<Choice> choices(static_cast<std::size_t>(lines));
        int i = lines, c = count - 1;
        if (cost[at(i, c)] == kNever) throw AlignmentError("无法在录音中安排文稿");
        while (step[at(i, c)] != Step::start) {
            const Step how = step[at(i, c)];
            const int previous = from[at(i, c)];
            if (how == Step::line) {
                choices[static_cast<std::size_t>(i - 1)] = {previous, c};
                --i;
            } else if (how == Step::skip) {
                --i;
            }
            c = previous;
        }
        return choices;
    }

    // Local speaking rates and syllables per peak from an assignment: each line gets the rate of
    // its neighbours (not its own, which would only confirm the assignment), mixed with the rate
    // of the whole recording.
    void localRates(const std::vector<Choice>& choices, std::vector<double>& rate,
                    std::vector<double>& perPeak, double& durationSpread,
                    double& peakSpread) const {
        const int lines = static_cast<int>(syllables_.size());
        double allSyllables = 0, allSpeech = 0, allPeaks = 0;
        for (int i = 0; i < lines; ++i) {
            const Choice& c = choices[static_cast<std::size_t>(i)];
            if (c.spanStart < 0) continue;
            allSyllables += syllables_[static_cast<std::size_t>(i)];
            allSpeech += speechBetween(c.spanStart, c.spanEnd);
            allPeaks += peaksBetween(c.spanStart, c.spanEnd);
        }
        if (allSyllables <= 0 || allSpeech <= 0) return;
        const double globalRate = allSyllables / allSpeech;
        const double globalPerPeak = allPeaks > 0 ? allSyllables / allPeaks : 1.0;
        for (int i = 0; i < lines; ++i) {
            double syllables = kRatePrior, speech = kRatePrior / globalRate,
                   peaks = kRatePrior / globalPerPeak;
            for (int j = std::max(0, i - kRateNeighbours);
                 j <= std::min(lines - 1, i + kRateNeighbours); ++j) {
                const Choice& c = choices[static_cast<std::size_t>(j)];
                if (j == i || c.spanStart < 0) continue;
                syllables += syllables_[static_cast<std::size_t>(j)];
                speech += speechBetween(c.spanStart, c.spanEnd);
                peaks += peaksBetween(c.spanStart, c.spanEnd);
            }
            rate[static_cast<std::size_t>(i)] = syllables / speech;
            perPeak[static_cast<std::size_t>(i)] = syllables / std::max(1.0, peaks);
        }
        // The spreads, from the lines' own misfits (median absolute, as a standard deviation).
        std::vector<double> durationMisfit, peakMisfit;
        for (int i = 0; i < lines; ++i) {
            const auto line = static_cast<std::size_t>(i);
            const Choice& c = choices[line];
            if (c.spanStart < 0) continue;
            const double n = syllables_[line];
            durationMisfit.push_back(std::abs(
                std::log((speechBetween(c.spanStart, c.spanEnd) + 0.3) / (n / rate[line] + 0.3))));
            peakMisfit.push_back(std::abs(std::log((peaksBetween(c.spanStart, c.spanEnd) + 1.0) /
                                                   (n / perPeak[line] + 1.0))));
        }
        if (durationMisfit.size() < kLinesForSpread) return;
        const auto spreadOf = [](std::vector<double>& misfits) {
            std::nth_element(misfits.begin(),
                             misfits.begin() + static_cast<std::ptrdiff_t>(misfits.size() / 2),
                             misfits.end());
            return std::clamp(1.4826 * misfits[misfits.size() / 2], kNarrowestSpread,
                              kWidestSpread);
        };
        durationSpread = spreadOf(durationMisfit);
        peakSpread = spreadOf(peakMisfit);
    }

  private:
    std::vector<double> syllables_;
    std::vector<int> pauses_;
    std::vector<Candidate> candidates_;
    std::vector<double> speechBefore_;  // seconds of speech before each candidate
    std::vector<int> peaksBefore_;      // syllable peaks before each candidate
};

class SpeechAligner final : public Aligner {
  public:
    std::vector<LineTiming> align(const std::filesystem::path& audio,
                                  const std::vector<std::string>& lines, std::stop_token stopToken,
                                  const AlignmentProgress& progress) override {
        const std::vector<float> samples =
            decodeForAlignment(audio, lines, kAnalysisRate, stopToken);
        if (progress) progress(1);
        const SpeechAnalysis analysis = analyseSpeech(samples, kAnalysisRate, stopToken);
        if (progress) progress(2);
        std::vector<SpokenLength> lengths;
        lengths.reserve(lines.size());
        for (const std::string& line : lines)
            lengths.push_back(spokenLength(line));
        if (stopToken.stop_requested()) throw AlignmentError("已取消");
        return placeLines(analysis, lengths, stopToken);
    }
};

}  // namespace

std::unique_ptr<Aligner> makeSpeechAligner() {
    return std::make_unique<SpeechAligner>();
}

std::vector<LineTiming> placeLines(const SpeechAnalysis& analysis,
                                   const std::vector<SpokenLength>& lines,
                                   std::stop_token stopToken) {
    std::vector<std::size_t> spoken;  // lines with something to say
    std::vector<double> syllables;
    std::vector<int> pauses;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].syllables <= 0) continue;
        spoken.push_back(i);
        syllables.push_back(lines[i].syllables);
        pauses.push_back(lines[i].pauses);
    }
    if (spoken.empty()) throw AlignmentError("文稿中没有可以朗读的文字");
    const Placement placement(analysis, syllables, pauses);

    double total = 0;
    for (double n : syllables)
        total += n;
    const double speech = placement.speechSeconds();
    // Even at the fastest pace the speech cannot hold half of the script (more than half of it
    // missing is no alignment either).
    if (speech * kFastestRate * 2 < total) {
        throw AlignmentError("录音比文稿短: 录音中只有 " + std::to_string(std::lround(speech)) +
                             " 秒语音，文稿约需 " +
                             std::to_string(std::lround(total / kTypicalRate)) + " 秒");
    }
    // First guesses from the recording's syllable peaks, which know nothing of lines missing
    // from it; the script only corrects them within limits. Later passes measure them.
    const double peaks = std::max(1, placement.peaks());
    const double firstPerPeak = std::clamp(total / peaks, 0.85, 1.3);
    std::vector<double> rate(syllables.size(), peaks * firstPerPeak / speech);
    std::vector<double> perPeak(syllables.size(), firstPerPeak);
    double durationSpread = kDurationSpread, peakSpread = kNucleusSpread;
    std::vector<Choice> choices;
    for (int pass = 0; pass < kPasses; ++pass) {
        choices = placement.solve(rate, perPeak, durationSpread, peakSpread, stopToken);
        if (pass + 1 < kPasses)
            placement.localRates(choices, rate, perPeak, durationSpread, peakSpread);
    }

    std::size_t found = 0;
    for (const Choice& c : choices)
        found += c.spanStart >= 0 ? 1 : 0;
    if (found * 2 < choices.size()) {
        throw AlignmentError("录音与文稿对不上: 只找到 " + std::to_string(found) + " 句，文稿共 " +
                             std::to_string(choices.size()) + " 句");
    }

    // Spoken lines start at the onset of their first syllable and end at the offset of their last.
    std::vector<LineTiming> ranges(lines.size());
    std::vector<bool> placed(lines.size(), false);
    for (std::size_t k = 0; k < spoken.size(); ++k) {
        const Choice& c = choices[k];
        LineTiming& range = ranges[spoken[k]];
        if (c.spanStart < 0) {
            range.missing = true;
            continue;
        }
        range.start = SpeechAnalysis::timeOf(placement.candidate(c.spanStart).end);
        range.end = SpeechAnalysis::timeOf(placement.candidate(c.spanEnd).begin) - kHop;
        range.end = std::max(range.end, range.start);
        placed[spoken[k]] = true;
    }
    // Punctuation-only lines take the pause before the next placed line.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].syllables > 0) continue;
        double before = 0, after = analysis.duration;
        for (std::size_t j = i; j-- > 0;) {
            if (placed[j]) {
                before = ranges[j].end;
                break;
            }
        }
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            if (placed[j]) {
                after = ranges[j].start;
                break;
            }
        }
        ranges[i] = {before, std::max(before, after), false};
    }
    return ranges;
}

}  // namespace quillora::server
