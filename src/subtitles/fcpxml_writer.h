#pragma once

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora {

class Preferences;

/// The style settings of the FCPXML conversion. They persist as strings in the preferences and
/// are written into the document as they are stored (escaped for XML).
struct FcpxmlSettings {
    std::string fps = "25";                    ///< "srt_fps"
    std::string fontName = "Hei";              ///< "srt_fontname"
    std::string fontSize = "55";               ///< "srt_fontsize"
    std::string lineWidth = "2";               ///< "srt_linewidth"
    std::string px = "0";                      ///< "srt_px"
    std::string py = "478";                    ///< "srt_py", written negated
    std::string charDistance = "0";            ///< "srt_chardisvalue", tracking × 100
    std::string shadowAngle = "315";           ///< "srt_shadowanglevalue"
    std::string shadowDistance = "4";          ///< "srt_shadowdisvalue"
    std::string selectedFrame = "1920X1080";   ///< "srt_selectedFrame", width "X" height
    std::string selectedFontFace = "Regular";  ///< "srt_selectedfontface"
    std::string selectedSx = "1.0";            ///< "srt_selectedsx"
    std::string selectedSy = "1.0";            ///< "srt_selectedsy"
    std::string selectedFps = "25";            ///< "srt_selectedFPS", stored but not used
    std::string selectedFont = "Hei";          ///< "srt_selectedfont", stored but not used

    /// One preference key and the field it fills.
    struct Key {
        const char* name;
        std::string FcpxmlSettings::*field;
    };
    static const std::array<Key, 15>& keys();

    /// The stored values, each missing key at its default.
    static FcpxmlSettings load(const Preferences& preferences);
    void save(Preferences& preferences) const;

    bool operator==(const FcpxmlSettings&) const = default;
};

/// Choices the screen offers.
inline constexpr std::array<std::string_view, 2> kFcpxmlFpsOptions{"25", "50"};
inline constexpr std::array<std::string_view, 2> kFcpxmlFaceOptions{"Medium", "Regular"};
inline constexpr std::array<std::string_view, 2> kFcpxmlFrameOptions{"3840X2160", "1920X1080"};

/// Where a document's date-times and UUIDs come from; tests fix them.
struct FcpxmlStamps {
    std::function<std::string()> now;      ///< the current date-time, formatted
    std::function<std::string()> newUuid;  ///< a new UUID, upper-case canonical form
    /// The clock in the local time zone and random UUIDs.
    static FcpxmlStamps system();
};

/// "yyyy-MM-dd HH:mm:ss Z" in the local time zone, e.g. "2024-03-01 09:30:00 +0800".
std::string formatFcpxmlDate(std::chrono::system_clock::time_point time);

/// A conversion that cannot go on; nothing is written.
class FcpxmlStop : public Error {
  public:
    enum class Kind { invalidFps, noSubtitles, invalidFrameSize, timeOutOfRange };
    FcpxmlStop(Kind kind, std::string screenText, std::string consoleLine);
    Kind kind() const { return kind_; }
    /// What the screen shows in place of the document, e.g. "Error: Invalid FPS value".
    const std::string& screenText() const { return screenText_; }
    /// The console line of the file conversion, e.g. "   ❌ 错误: 未找到有效的字幕".
    const std::string& consoleLine() const { return consoleLine_; }

  private:
    Kind kind_;
    std::string screenText_;
    std::string consoleLine_;
};

/// An FCPXML 1.7 document and its sequence duration (e.g. "25100/2500s").
struct FcpxmlConversion {
    std::string document;
    std::string sequenceDuration;
};

/// Builds the document for `srtText`, with `name` as library and project name: one Basic Title
/// per subtitle in a gap. Throws FcpxmlStop.
FcpxmlConversion buildFcpxml(std::string_view srtText, std::string_view name,
                             const FcpxmlSettings& settings,
                             const FcpxmlStamps& stamps = FcpxmlStamps::system());

/// The state of the SRT-to-FCPXML screen and its conversion.
struct SrttoFcpxmlModel {
    std::string srtText;
    std::string fcpxmlText;
    std::string projectName = "My Project";
    std::string sequenceDuration = "2216200/5000s";

    /// Converts srtText; on a stop fcpxmlText holds the stop's text (e.g. "Error: Invalid FPS
    /// value") and sequenceDuration keeps its value.
    void convertSRTtoFCPXML(const FcpxmlSettings& settings,
                            const FcpxmlStamps& stamps = FcpxmlStamps::system());

    /// "打开 SRT文件": reads the file into srtText and names the project after it. On failure
    /// writes "Error reading file: " + reason to the console and keeps the state.
    bool openSrtFile(const std::filesystem::path& file);

    /// The save dialog's suggested name.
    std::string suggestedFileName() const { return projectName + ".fcpxml"; }
};

/// Where convertSRTtoFCPXMLPublic writes: the SRT's folder, its name without extension + ".fcpxml".
std::filesystem::path fcpxmlPathFor(const std::filesystem::path& srtFile);

/// Converts the SRT file (UTF-8), named after the file, and writes the document to `output`
/// atomically. A stop writes its console line and throws FcpxmlStop; an unreadable or non-UTF-8
/// SRT and a failed write throw TextFileError. Nothing is written on any failure.
void convertSRTFileToFCPXML(const std::filesystem::path& srtFile,
                            const std::filesystem::path& output, const FcpxmlSettings& settings,
                            const FcpxmlStamps& stamps = FcpxmlStamps::system());

/// Converts the SRT file (UTF-8) and writes the document beside it, atomically; returns its
/// location. A stop writes its console line and throws FcpxmlStop; an unreadable or non-UTF-8
/// SRT and a failed write throw TextFileError. Nothing is written on any failure.
std::filesystem::path convertSRTtoFCPXMLPublic(const std::filesystem::path& fileurl,
                                               const FcpxmlSettings& settings,
                                               const FcpxmlStamps& stamps = FcpxmlStamps::system());
/// The same with the settings last stored by the screen (the shared preferences).
std::filesystem::path convertSRTtoFCPXMLPublic(const std::filesystem::path& fileurl);

}  // namespace quillora
