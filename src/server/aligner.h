#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/error.h"

namespace quillora::server {

/// One line's place in the recording, in seconds.
struct LineTiming {
    double start = 0;
    double end = 0;
    bool missing = false;  ///< the line is not spoken in the recording: no cue is written
};

/// Alignment could not produce a result; the text is the reason shown in "failed/<reason>".
class AlignmentError : public Error {
  public:
    using Error::Error;
};

/// Told how far an alignment has come: 1 = recording decoded, 2 = speech analysed.
using AlignmentProgress = std::function<void(int stage)>;

/// Places script lines on a recording: one time range per line, in order; lines not spoken in
/// the recording are marked missing.
class Aligner {
  public:
    virtual ~Aligner() = default;
    virtual std::vector<LineTiming> align(const std::filesystem::path& audio,
                                          const std::vector<std::string>& lines,
                                          std::stop_token stopToken,
                                          const AlignmentProgress& progress) = 0;
};

/// The first audio track as mono samples at the given rate, for an aligner; an unreadable or
/// empty recording and a script without lines are AlignmentErrors.
std::vector<float> decodeForAlignment(const std::filesystem::path& audio,
                                      const std::vector<std::string>& lines, int sampleRate,
                                      std::stop_token stopToken);

/// The baseline: speech found by short-time energy, lines spread over it by their length and
/// their boundaries moved to the nearest pauses.
std::unique_ptr<Aligner> makeEnergyAligner();

/// A run of frames judged as silence, in seconds.
struct Pause {
    double start = 0;
    double end = 0;
};

/// What the energy analysis found in a recording.
struct SpeechMap {
    double speechStart = 0;
    double speechEnd = 0;
    std::vector<Pause> pauses;  ///< inside [speechStart, speechEnd], in order
};

/// Energy analysis of 16 kHz mono samples.
SpeechMap findSpeech(const std::vector<float>& samples, int sampleRate);

/// Distributes lines of the given weights over the speech and snaps boundaries to pauses.
std::vector<LineTiming> distributeLines(const SpeechMap& speech,
                                        const std::vector<double>& weights);

/// Weight of a script line: its grapheme clusters, punctuation tokens not counted.
double lineWeight(const std::string& line);

}  // namespace quillora::server
