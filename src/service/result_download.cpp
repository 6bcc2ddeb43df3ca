#include "service/network_service.h"

namespace quillora {

bool NetworkService::checkTaskCompletion(const KestruneItem&, std::stop_token) {
    return false;
}

std::filesystem::path srtPathForRecording(const std::filesystem::path& recording) {
    std::filesystem::path path = recording;
    return path.replace_extension("srt");
}

}  // namespace quillora
