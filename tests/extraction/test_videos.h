#pragma once

// Videos with burned-in subtitles made by the ffmpeg command line and libass, for tests.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quillora::testing {

struct Cue {
    double start;
    double end;
    std::string text;
};

inline std::string srtTime(double seconds) {
    const auto ms = static_cast<long long>(seconds * 1000 + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld,%03lld", ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return buffer;
}

struct VideoStyle {
    int width = 640;
    int height = 360;
    std::string background = "color=c=0x305070";  // any lavfi video source
    std::string colour = "&H00FFFFFF";            // ASS primary colour, &HAABBGGRR
    std::string extra;                            // more ffmpeg output options
};

inline bool runQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

/// Writes `path` with the cues burned in white with a black outline; false if ffmpeg failed.
inline bool makeSubtitledVideo(const std::filesystem::path& path, double seconds,
                               const std::vector<Cue>& cues, const VideoStyle& style = {}) {
    const auto srt = path.parent_path() / (path.stem().string() + "_truth.srt");
    {
        std::ofstream out(srt);
        for (size_t k = 0; k < cues.size(); ++k) {
            out << k + 1 << "\n"
                << srtTime(cues[k].start) << " --> " << srtTime(cues[k].end) << "\n"
                << cues[k].text << "\n\n";
        }
    }
    const std::string size = std::to_string(style.width) + "x" + std::to_string(style.height);
    const std::string filter =
        "subtitles=" + srt.string() +
        ":force_style='FontName=Noto Sans CJK SC,FontSize=20,PrimaryColour=" + style.colour +
        ",OutlineColour=&H00000000,Outline=2,Shadow=0'";
    const std::string command = "ffmpeg -nostdin -y -f lavfi -i '" + style.background +
                                ":s=" + size + ":r=25:d=" + std::to_string(seconds) + "' -vf \"" +
                                filter + "\" -c:v libx264 -preset veryfast -pix_fmt yuv420p " +
                                style.extra + " '" + path.string() + "'";
    return runQuietly(command);
}

}  // namespace quillora::testing
