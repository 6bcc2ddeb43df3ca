#pragma once

#include <memory>
#include <stop_token>
#include <vector>

#include "server/aligner.h"
#include "server/speech_analysis.h"
#include "server/spoken_length.h"

namespace quillora::server {

/// The aligner that reads a recording as a whole: speech and pauses found against the noise
/// floor of each frequency band, syllable peaks, and each line's expected length at the local
/// speaking rate decide one best assignment of all lines to stretches of speech. Lines that are
/// not in the recording are marked missing; speech that fits no line is given to none.
std::unique_ptr<Aligner> makeSpeechAligner();

/// The assignment itself, on an analysed recording. Lines without spoken text (punctuation only)
/// take the pause before the next line. Throws AlignmentError when the speech cannot hold the
/// script, or when stopped.
std::vector<LineTiming> placeLines(const SpeechAnalysis& analysis,
                                   const std::vector<SpokenLength>& lines,
                                   std::stop_token stopToken = {});

}  // namespace quillora::server
