#include "subtitles/fcpxml_writer.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/preferences.h"
#include "platform/uuid.h"
#include "subtitles/frame_rate.h"
#include "subtitles/srt_parser.h"
// Generated at build time from src/subtitles/templates/*.xml (see embed_templates.cmake there).
#include "subtitles/templates/fcpxml_document.h"
#include "subtitles/templates/fcpxml_title.h"
#include "subtitles/text_file.h"
#include "subtitles/text_template.h"
#include "subtitles/xml_escape.h"
#include "text/numbers.h"
#include "text/unicode.h"

namespace quillora {
namespace {

const TextTemplate& documentTemplate() {
    static const TextTemplate document(
        templates::fcpxml_document,
        {"{width}", "{height}", "{fps}", "{frameDuration}", "{timescale}", "{name}", "{eventName}",
         "{eventUid}", "{projectUid}", "{modDate}", "{sequenceDuration}", "{titles}"});
    return document;
}

enum TitleSlot {
    kTitleName,
    kOffset,
    kDuration,
    kPx,
    kPy,
    kShadowDistance,
    kShadowAngle,
    kTracking,
    kLineWidth,
    kScaleX,
    kScaleY,
    kNumber,
    kText,
    kFont,
    kFontSize,
    kFontFace,
    kStroke,
    kTitleSlotCount
};

const TextTemplate& titleTemplate() {
    static const TextTemplate title(
        templates::fcpxml_title,
        {"{name}", "{offset}", "{duration}", "{px}", "{py}", "{shadowDistance}", "{shadowAngle}",
         "{tracking}", "{lineWidth}", "{scaleX}", "{scaleY}", "{i}", "{text}", "{font}",
         "{fontSize}", "{fontFace}", "tsstrokevalue"});
    return title;
}

FcpxmlStop invalidFps(const std::string& setting) {
    return FcpxmlStop(FcpxmlStop::Kind::invalidFps, "Error: Invalid FPS value",
                      "   ❌ 错误: 无效的 FPS 值 (" + setting + ")");
}

// The document's frame rate: a whole number of frames per second, times written in hundredths
// of a frame (25 fps: one frame is "100/2500s"), or an NTSC rate, times written in 1001ths
// (29.97 fps: one frame is "1001/30000s").
struct FcpxmlRate {
    FrameRate rate;
    int64_t frameDuration = 100;  // numerator of one frame
    int64_t timescale = 2500;     // denominator of every time
    std::string name;             // in the format name: "25", "2997"
};

FcpxmlRate fcpxmlRate(const std::string& setting) {
    if (const std::optional<int64_t> whole = parseWholeInteger(setting)) {
        if (*whole < 1 || *whole > INT64_MAX / 100) throw invalidFps(setting);
        return {{*whole, false}, 100, *whole * 100, std::to_string(*whole)};
    }
    const std::optional<double> value = parseDecimalNumber(setting);
    const std::optional<FrameRate> ntsc = value ? ntscRate(*value) : std::nullopt;
    if (!ntsc) throw invalidFps(setting);
    const auto hundredths = std::llround(ntsc->perSecond() * 100);
    return {*ntsc, 1001, ntsc->timebase * 1000, std::to_string(hundredths)};
}

// Whole frames of `seconds` at the rate, truncated toward zero, as a count that still fits once
// multiplied by a frame's numerator.
int64_t wholeFrames(double seconds, const FcpxmlRate& rate) {
    const double frames = rate.rate.ntsc
                              ? seconds * rate.rate.perSecond()
                              : std::trunc(seconds * static_cast<double>(rate.rate.timebase));
    // (frames + 1) × the frame's numerator (100 or 1001) stays inside 64 bits.
    const double limit = rate.frameDuration == 100 ? 9.0e16 : 9.0e15;
    if (!std::isfinite(frames) || std::fabs(frames) >= limit) {
        throw FcpxmlStop(FcpxmlStop::Kind::timeOutOfRange, "Error: Subtitle time out of range",
                         "   ❌ 错误: 字幕时间超出范围");
    }
    if (!rate.rate.ntsc) return static_cast<int64_t>(frames);
    // SRT times are whole milliseconds; counted in them, a time on a frame's edge is exact.
    const int64_t millis = std::llround(seconds * 1000.0);
    return millis / 1001 * rate.rate.timebase + millis % 1001 * rate.rate.timebase / 1001;
}

std::string rational(int64_t frames, const FcpxmlRate& rate, int64_t extraFrames = 0) {
    return std::to_string((frames + extraFrames) * rate.frameDuration) + "/" +
           std::to_string(rate.timescale) + "s";
}

// The setting read as a number (not a number reads as 0) × 0.01, two decimals, "." always.
std::string trackingValue(const std::string& setting) {
    std::optional<double> value = parseDecimalNumber(setting);
    double tracking = value && std::isfinite(*value) ? *value * 0.01 : 0.0;
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, tracking, std::chars_format::fixed, 2);
    if (error != std::errc()) return "0.00";
    return std::string(buffer, end);
}

// Optional sign and leading digits, as an integer; 0 when there are none.
int64_t leadingInteger(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (INT64_MAX - 9) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::string titleName(std::string_view text) {
    std::string name = replaceAll(text, "\u201C", "");
    name = replaceAll(name, "\u201D", "");
    return replaceAll(name, "\"", "");
}

}  // namespace

const std::array<FcpxmlSettings::Key, 15>& FcpxmlSettings::keys() {
    static const std::array<Key, 15> list{{
        {"srt_fps", &FcpxmlSettings::fps},
        {"srt_fontname", &FcpxmlSettings::fontName},
        {"srt_fontsize", &FcpxmlSettings::fontSize},
        {"srt_linewidth", &FcpxmlSettings::lineWidth},
        {"srt_px", &FcpxmlSettings::px},
        {"srt_py", &FcpxmlSettings::py},
        {"srt_chardisvalue", &FcpxmlSettings::charDistance},
        {"srt_shadowanglevalue", &FcpxmlSettings::shadowAngle},
        {"srt_shadowdisvalue", &FcpxmlSettings::shadowDistance},
        {"srt_selectedFrame", &FcpxmlSettings::selectedFrame},
        {"srt_selectedfontface", &FcpxmlSettings::selectedFontFace},
        {"srt_selectedsx", &FcpxmlSettings::selectedSx},
        {"srt_selectedsy", &FcpxmlSettings::selectedSy},
        {"srt_selectedFPS", &FcpxmlSettings::selectedFps},
        {"srt_selectedfont", &FcpxmlSettings::selectedFont},
    }};
    return list;
}

FcpxmlSettings FcpxmlSettings::load(const Preferences& preferences) {
    FcpxmlSettings settings;
    for (const Key& key : keys()) {
        if (std::optional<std::string> stored = preferences.text(key.name)) {
            settings.*key.field = std::move(*stored);
        }
    }
    return settings;
}

void FcpxmlSettings::save(Preferences& preferences) const {
    for (const Key& key : keys())
        preferences.setText(key.name, this->*key.field);
}

FcpxmlStamps FcpxmlStamps::system() {
    return FcpxmlStamps{[] { return formatFcpxmlDate(std::chrono::system_clock::now()); },
                        [] { return uuidString(); }};
}

std::string formatFcpxmlDate(std::chrono::system_clock::time_point time) {
    return formatLocalTime(time, "%Y-%m-%d %H:%M:%S %z");
}

FcpxmlStop::FcpxmlStop(Kind kind, std::string screenText, std::string consoleLine)
    : Error(std::string(trimHorizontalWhitespace(consoleLine))),
      kind_(kind),
      screenText_(std::move(screenText)),
      consoleLine_(std::move(consoleLine)) {}

FcpxmlConversion buildFcpxml(std::string_view srtText, std::string_view name,
                             const FcpxmlSettings& settings, const FcpxmlStamps& stamps) {
    const FcpxmlRate fps = fcpxmlRate(settings.fps);

    const std::vector<Subtitle> subtitles = SRTParser().parse(srtText);
    if (subtitles.empty()) {
        throw FcpxmlStop(FcpxmlStop::Kind::noSubtitles, "Error: No valid subtitles found in SRT",
                         "   ❌ 错误: 未找到有效的字幕");
    }

    FcpxmlConversion result;
    result.sequenceDuration = rational(wholeFrames(subtitles.back().endTime, fps), fps, 1);

    const std::vector<std::string_view> frame = splitOn(settings.selectedFrame, "X");
    if (frame.size() < 2) {
        throw FcpxmlStop(FcpxmlStop::Kind::invalidFrameSize, "Error: Invalid frame size",
                         "   ❌ 错误: 无效的分辨率 (" + settings.selectedFrame + ")");
    }

    const std::string stroke =
        leadingInteger(settings.lineWidth) >= 1
            ? "strokeWidth=\"-" + escapeXmlAttribute(settings.lineWidth) + "\""
            : std::string();
    const std::string modDate = stamps.now();

    // Values every title shares, escaped once.
    std::vector<std::string> shared(kTitleSlotCount);
    shared[kPx] = escapeXmlAttribute(settings.px);
    shared[kPy] = escapeXmlAttribute(settings.py);
    shared[kShadowDistance] = escapeXmlAttribute(settings.shadowDistance);
    shared[kShadowAngle] = escapeXmlAttribute(settings.shadowAngle);
    shared[kTracking] = trackingValue(settings.charDistance);
    shared[kLineWidth] = escapeXmlAttribute(settings.lineWidth);
    shared[kScaleX] = escapeXmlAttribute(settings.selectedSx);
    shared[kScaleY] = escapeXmlAttribute(settings.selectedSy);
    shared[kFont] = escapeXmlAttribute(settings.fontName);
    shared[kFontSize] = escapeXmlAttribute(settings.fontSize);
    shared[kFontFace] = escapeXmlAttribute(settings.selectedFontFace);
    shared[kStroke] = stroke;

    const TextTemplate& title = titleTemplate();
    std::string titles;
    titles.reserve(subtitles.size() * (title.fixedSize() + 200));
    std::vector<std::string_view> values(kTitleSlotCount);
    for (size_t slot = 0; slot < kTitleSlotCount; ++slot)
        values[slot] = shared[slot];
    for (size_t i = 0; i < subtitles.size(); ++i) {
        const Subtitle& subtitle = subtitles[i];
        const std::string nameValue = escapeXmlAttribute(titleName(subtitle.text));
        const int64_t startFrame = wholeFrames(subtitle.startTime, fps);
        const std::string offset = rational(startFrame, fps);
        // At NTSC rates a title ends on the frame of its end time; whole rates keep the length
        // truncated on its own, as their documents always had it.
        const int64_t lengthFrames = fps.rate.ntsc
                                         ? wholeFrames(subtitle.endTime, fps) - startFrame
                                         : wholeFrames(subtitle.endTime - subtitle.startTime, fps);
        const std::string duration = rational(lengthFrames, fps);
        const std::string number = std::to_string(i + 1);
        const std::string text = escapeXmlText(replaceAll(subtitle.text, " ", "  "));
        values[kTitleName] = nameValue;
        values[kOffset] = offset;
        values[kDuration] = duration;
        values[kNumber] = number;
        values[kText] = text;
        title.appendTo(titles, values);
    }

    const std::string width = escapeXmlAttribute(frame[0]);
    const std::string height = escapeXmlAttribute(frame[1]);
    const std::string frameDuration = std::to_string(fps.frameDuration);
    const std::string timescale = std::to_string(fps.timescale);
    const std::string escapedName = escapeXmlAttribute(name);
    const std::string eventName = escapeXmlAttribute(stamps.now());
    const std::string eventUid = escapeXmlAttribute(stamps.newUuid());
    const std::string projectUid = escapeXmlAttribute(stamps.newUuid());
    const std::string escapedModDate = escapeXmlAttribute(modDate);
    result.document = documentTemplate().fill({width, height, fps.name, frameDuration, timescale,
                                               escapedName, eventName, eventUid, projectUid,
                                               escapedModDate, result.sequenceDuration, titles});
    return result;
}

void SrttoFcpxmlModel::convertSRTtoFCPXML(const FcpxmlSettings& settings,
                                          const FcpxmlStamps& stamps) {
    try {
        FcpxmlConversion conversion = buildFcpxml(srtText, projectName, settings, stamps);
        fcpxmlText = std::move(conversion.document);
        sequenceDuration = std::move(conversion.sequenceDuration);
    } catch (const FcpxmlStop& stop) {
        fcpxmlText = stop.screenText();
    }
}

bool SrttoFcpxmlModel::openSrtFile(const std::filesystem::path& file) {
    try {
        srtText = readUtf8File(file);
        projectName = file.stem().string();
        return true;
    } catch (const TextFileError& error) {
        console("Error reading file: " + error.description());
        return false;
    }
}

std::filesystem::path fcpxmlPathFor(const std::filesystem::path& srtFile) {
    return srtFile.parent_path() / (srtFile.stem().string() + ".fcpxml");
}

void convertSRTFileToFCPXML(const std::filesystem::path& srtFile,
                            const std::filesystem::path& output, const FcpxmlSettings& settings,
                            const FcpxmlStamps& stamps) {
    const std::string srt = readUtf8File(srtFile);
    FcpxmlConversion conversion;
    try {
        conversion = buildFcpxml(srt, srtFile.stem().string(), settings, stamps);
    } catch (const FcpxmlStop& stop) {
        console(stop.consoleLine());
        throw;
    }
    writeTextFile(output, conversion.document);
}

std::filesystem::path convertSRTtoFCPXMLPublic(const std::filesystem::path& fileurl,
                                               const FcpxmlSettings& settings,
                                               const FcpxmlStamps& stamps) {
    const std::filesystem::path output = fcpxmlPathFor(fileurl);
    convertSRTFileToFCPXML(fileurl, output, settings, stamps);
    return output;
}

std::filesystem::path convertSRTtoFCPXMLPublic(const std::filesystem::path& fileurl) {
    return convertSRTtoFCPXMLPublic(fileurl, FcpxmlSettings::load(Preferences::shared()));
}

}  // namespace quillora
