#include "text/media_lookup.h"

#include "platform/console.h"
#include "text/unicode.h"

#include <array>
#include <string>
#include <system_error>

namespace quillora {

std::optional<std::filesystem::path> findMatchingMediaFileInSameDirectory(
    const std::filesystem::path& scriptFile) {
    static const std::array<std::string, 4> kMediaExtensions = {"mp3", "mov", "mp4", "wav"};
    const std::filesystem::path folder = scriptFile.parent_path();
    const std::string base = scriptFile.stem().string();

    std::error_code error;
    std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
    if (error) {
        console("❌ 搜索匹配的媒体文件时出错: " + error.message());
        return std::nullopt;
    }
    for (auto it = entries; it != std::filesystem::directory_iterator();) {
        const std::filesystem::path candidate = it->path();
        if (candidate.stem().string() == base && candidate.has_extension()) {
            const std::string extension = lowerExtension(candidate);
            for (const auto& wanted : kMediaExtensions) {
                if (extension == wanted) return candidate;
            }
        }
        it.increment(error);
        if (error) {
            console("❌ 搜索匹配的媒体文件时出错: " + error.message());
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace quillora
