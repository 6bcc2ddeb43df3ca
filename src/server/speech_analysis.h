#pragma once

#include <cstddef>
#include <stop_token>
#include <vector>

namespace quillora::server {

/// A frame-by-frame reading of a recording: how far each frame rises above the recording's own
/// noise floor, which frames are speech, and where syllables peak.
struct SpeechAnalysis {
    static constexpr double kHop = 0.010;  ///< seconds from one frame to the next
    double duration = 0;                   ///< seconds of audio
    std::vector<float> level;              ///< dB above the noise floor in the loudest bands
    std::vector<bool> speech;              ///< the frame holds speech
    std::vector<std::size_t> nuclei;       ///< frames of syllable peaks, ascending

    std::size_t frames() const { return speech.size(); }
    /// Where the sound of a frame begins to count, in seconds.
    static double timeOf(std::size_t frame);
};

/// Reads mono samples (any rate; 16 kHz is what the analysis is tuned for). Throws
/// AlignmentError when stopped.
SpeechAnalysis analyseSpeech(const std::vector<float>& samples, int sampleRate,
                             std::stop_token stopToken = {});

/// A place between two stretches of speech: non-speech frames [begin, end), or, where echo fills
/// a short pause, the deep dip in the level (begin) and the rise of the next sound (end).
struct Gap {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t quiet = 0;  ///< frames around it far below the speech on either side
};

/// Every gap and deep dip between speech stretches, in order: where a line may end and the next
/// begin.
std::vector<Gap> findGaps(const SpeechAnalysis& analysis);

}  // namespace quillora::server
