#pragma once

#include <filesystem>
#include <stop_token>
#include <vector>

#include "platform/error.h"

namespace quillora::server {

/// The audio could not be opened or decoded.
class AudioDecodeError : public Error {
  public:
    using Error::Error;
};

inline constexpr int kAnalysisSampleRate = 16000;

/// Decodes the first audio stream of any container FFmpeg reads to 16 kHz mono samples.
std::vector<float> decodeAudioMono16k(const std::filesystem::path& file,
                                      std::stop_token stopToken = {});

}  // namespace quillora::server
