#pragma once

#include <filesystem>
#include <functional>
#include <stop_token>

#include "platform/media/media_file.h"

namespace quillora::media {

/// The two audio files an export writes.
enum class AudioFormat {
    m4a,  ///< AAC (FFmpeg's native encoder) in an MPEG-4 audio container, header first
    wav,  ///< 16-bit little-endian interleaved PCM at the source's rate and channel count
};

/// The input has no audio track; description() is "未找到音频轨道".
class NoAudioTrackError : public MediaError {
  public:
    NoAudioTrackError();
};

/// The export was stopped through its stop token; description() is "转换已取消".
class ExportCancelledError : public MediaError {
  public:
    ExportCancelledError();
};

/// Receives the share of the input exported so far, 0 to 1.
using ExportProgress = std::function<void(double)>;

/// Writes the first audio track of `input` (video and further audio tracks dropped) to `output`
/// in `format`, decoding and encoding in one pass. `progress` is called at least every 0.1 s of
/// work and with 1 at the end. The output appears whole or not at all (an existing file there
/// is replaced only on success). Throws NoAudioTrackError, ExportCancelledError or MediaError.
void exportAudio(const std::filesystem::path& input, const std::filesystem::path& output,
                 AudioFormat format, const ExportProgress& progress = {},
                 std::stop_token stopToken = {});

}  // namespace quillora::media
