#include "server/aligner.h"

#include "platform/media/media_file.h"

namespace quillora::server {

std::vector<float> decodeForAlignment(const std::filesystem::path& audio,
                                      const std::vector<std::string>& lines, int sampleRate,
                                      std::stop_token stopToken) {
    if (lines.empty()) throw AlignmentError("文稿没有内容");
    std::vector<float> samples;
    try {
        samples = media::decodeAudioMono(audio, sampleRate, stopToken);
    } catch (const media::MediaError& error) {
        throw AlignmentError(error.description());
    }
    if (samples.empty()) throw AlignmentError("音频为空");
    if (stopToken.stop_requested()) throw AlignmentError("已取消");
    return samples;
}

}  // namespace quillora::server
