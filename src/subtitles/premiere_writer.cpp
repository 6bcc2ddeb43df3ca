#include "subtitles/premiere_writer.h"

#include <cmath>
#include <optional>

#include "platform/files.h"
#include "platform/uuid.h"
#include "subtitles/frame_rate.h"
#include "subtitles/srt_parser.h"
// Generated at build time from src/subtitles/templates/*.xml (see embed_templates.cmake there).
#include "subtitles/templates/premiere_picture_clip.h"
#include "subtitles/templates/premiere_sequence.h"
#include "subtitles/templates/premiere_title.h"
#include "subtitles/text_template.h"
#include "subtitles/xml_escape.h"
#include "text/unicode.h"

namespace quillora {
namespace {

constexpr std::string_view kNarration = "解说";
constexpr std::string_view kEmpty = "空";
constexpr std::string_view kNone = "无";
constexpr std::string_view kNoNamePlate = "无人名底板";

enum SequenceSlot {
    kSeqTimebase,
    kSeqWidth,
    kSeqHeight,
    kSeqFrames,
    kSeqName,
    kTrack3,
    kTrack2,
    kTrack1,
    kSeqNtsc
};

const TextTemplate& sequenceTemplate() {
    static const TextTemplate sequence(
        templates::premiere_sequence,
        {"<timebase>25</timebase>", ">tswidth<", ">tsheight<", "prframes", "projectname",
         "<subclip2>", "<subclip1>", "<subclip0>", "<ntsc>FALSE</ntsc>"});
    return sequence;
}

const TextTemplate& titleTemplate() {
    static const TextTemplate title(
        templates::premiere_title,
        {"titleidvalue", "titlenamevalue", "duration18682", "titlestart51", "titleend73",
         "F46D5002-C9C8-4BC5-8557-2F8D9AE0938B", "<ntsc>FALSE</ntsc>",
         "<timebase>25.0</timebase>"});
    return title;
}

const TextTemplate& pictureTemplate() {
    static const TextTemplate picture(
        templates::premiere_picture_clip,
        {"<timebase>25</timebase>", "picname", "lamngname", "framein", "frameout", "timeout",
         "picfilepath", "clipitem-1", "file-1", "tswidth", "tsheight", "<ntsc>FALSE</ntsc>"});
    return picture;
}

// The NTSC rates are written as xmeml names them: the whole timebase (30 for 29.97) marked
// NTSC, with frames counted at the true rate. Any other rate is its whole number.
std::string timebaseElement(float fps) {
    const std::optional<FrameRate> ntsc = ntscRate(fps);
    const int64_t timebase = ntsc ? ntsc->timebase : static_cast<int64_t>(std::trunc(fps));
    return "<timebase>" + std::to_string(timebase) + "</timebase>";
}

std::string_view ntscElement(float fps) {
    return ntscRate(fps) ? "<ntsc>TRUE</ntsc>" : "<ntsc>FALSE</ntsc>";
}

// Frame number of `seconds`: at an NTSC rate the true rate, otherwise the Part's single
// precision product.
int64_t titleFrame(float seconds, float fps) {
    const std::optional<FrameRate> ntsc = ntscRate(fps);
    if (!ntsc) return premiereFrame(seconds, fps);
    const double frames = std::round(static_cast<double>(seconds) * ntsc->perSecond());
    if (!std::isfinite(frames) || std::fabs(frames) >= 1.0e15) {
        throw PremiereXmlError("字幕时间超出范围: " + std::to_string(seconds) + " 秒");
    }
    return static_cast<int64_t>(frames);
}

void checkFormat(float fps, int width, int height) {
    // A timebase under 1 frame per second places nothing; a fractional rate other than NTSC has
    // no timebase, and writing its whole part would let every title drift.
    if (!std::isfinite(fps) || fps < 1.0f || fps > 1.0e6f ||
        (fps != std::trunc(fps) && !ntscRate(fps))) {
        throw PremiereXmlError("帧速率无效: " + std::to_string(fps));
    }
    if (width <= 0 || height <= 0) {
        throw PremiereXmlError("分辨率无效: " + std::to_string(width) + "x" +
                               std::to_string(height));
    }
}

struct TitleWriter {
    const std::string& id;     // escaped
    const std::string& total;  // frames of the whole sequence
    float fps;
    const std::function<std::string()>& newUuid;

    void append(std::string& out, std::string_view name, float start, float end) const {
        const std::string escapedName = escapeXmlText(name);
        const std::string startFrame = std::to_string(titleFrame(start, fps));
        const std::string endFrame = std::to_string(titleFrame(end, fps));
        const std::string uuid = escapeXmlText(newUuid());
        // Titles keep the Part's fixed 25.0 rate at whole rates; at NTSC rates they follow.
        const bool ntsc = ntscRate(fps).has_value();
        const std::string rate = ntsc ? timebaseElement(fps) : "<timebase>25.0</timebase>";
        titleTemplate().appendTo(
            out, {id, escapedName, total, startFrame, endFrame, uuid, ntscElement(fps), rate});
    }
};

bool hasPlateWord(std::string_view line) {
    return line.find(kNarration) != line.npos || line.find(kEmpty) != line.npos ||
           line.find(kNone) != line.npos;
}

}  // namespace

int64_t premiereFrame(float seconds, float fps) {
    const float frames = std::round(seconds * fps);
    // Kept far below the 64-bit limit so that sums of frame counts cannot overflow either.
    constexpr float kLimit = 1.0e15f;
    if (!std::isfinite(frames) || std::fabs(frames) >= kLimit) {
        throw PremiereXmlError("字幕时间超出范围: " + std::to_string(seconds) + " 秒");
    }
    return static_cast<int64_t>(frames);
}

std::string myprclipitem(float sin, float sout, std::string_view picname, int64_t clipid, float fps,
                         int width, int height) {
    const int64_t framein = titleFrame(sin, fps);
    const int64_t frameout = titleFrame(sout, fps);
    const std::string timebase = timebaseElement(fps);
    const std::string file = escapeXmlText(std::string(picname) + ".png");
    const std::string in = std::to_string(framein);
    const std::string out = std::to_string(frameout);
    const std::string timeout = std::to_string(frameout - framein + 90000);
    const std::string clipItem = "clipitem-" + std::to_string(clipid);
    const std::string fileId = "file-" + std::to_string(clipid);
    const std::string widthText = std::to_string(width);
    const std::string heightText = std::to_string(height);
    return pictureTemplate().fill({timebase, file, file, in, out, timeout, "", clipItem, fileId,
                                   widthText, heightText, ntscElement(fps)});
}

std::string buildPremiereXml(const std::vector<SubtitleItem>& items, std::string_view projectName,
                             float fps, int width, int height, bool istianhe,
                             const std::function<std::string()>& newUuid) {
    checkFormat(fps, width, height);
    if (items.empty()) throw PremiereXmlError("SRT 中没有可用的字幕");

    const std::string timebase = timebaseElement(fps);
    const std::string total = std::to_string(titleFrame(items.back().end, fps));
    // Appended, not ">" + std::string: GCC 12 at -O3 reports a false -Wrestrict for that.
    const std::string widthValue = std::string(">").append(std::to_string(width)).append("<");
    const std::string heightValue = std::string(">").append(std::to_string(height)).append("<");
    const std::string name = escapeXmlText(projectName);
    const std::string titleId = escapeXmlAttribute(std::string(projectName) + "1");
    const TitleWriter titles{titleId, total, fps, newUuid};
    const bool plateMode = !items.front().restLines.empty();

    std::string document;
    const size_t titleSize = titleTemplate().fixedSize() + 256;
    document.reserve(sequenceTemplate().fixedSize() +
                     items.size() * (plateMode ? 2 * titleSize + pictureTemplate().fixedSize() + 256
                                               : titleSize));
    sequenceTemplate().appendTo(document, [&](std::string& out, size_t slot) {
        switch (slot) {
            case kSeqTimebase:
                out.append(timebase);
                break;
            case kSeqWidth:
                out.append(widthValue);
                break;
            case kSeqHeight:
                out.append(heightValue);
                break;
            case kSeqNtsc:
                out.append(ntscElement(fps));
                break;
            case kSeqFrames:
                out.append(total);
                break;
            case kSeqName:
                out.append(name);
                break;
            case kTrack1:
                if (!plateMode) {
                    for (const SubtitleItem& item : items) {
                        titles.append(out, item.firstLine, item.start, item.end);
                    }
                    break;
                }
                for (size_t i = 0; i < items.size(); ++i) {
                    std::string picture = items[i].firstLine;
                    if (istianhe) {
                        picture = replaceAll(picture, kNarration, kNoNamePlate);
                        picture = replaceAll(picture, kEmpty, kNoNamePlate);
                    }
                    out.append(myprclipitem(items[i].start, items[i].end, picture,
                                            static_cast<int64_t>(i) + 1, fps, width, height));
                }
                break;
            case kTrack2:
            case kTrack3:
                if (!plateMode) break;
                for (const SubtitleItem& item : items) {
                    // Without the variant both tracks carry every subtitle.
                    const bool plate = hasPlateWord(item.firstLine);
                    const bool wanted = !istianhe || (slot == kTrack3 ? plate : !plate);
                    if (wanted) titles.append(out, item.restLines, item.start, item.end);
                }
                break;
            default:
                break;
        }
    });
    return document;
}

std::string buildPremiereXml(const std::vector<SubtitleItem>& items, std::string_view projectName,
                             float fps, int width, int height, bool istianhe) {
    return buildPremiereXml(items, projectName, fps, width, height, istianhe,
                            [] { return uuidString(); });
}

std::filesystem::path premiereXmlPathFor(const std::filesystem::path& srtFile) {
    return srtFile.parent_path() / (srtFile.stem().string() + ".xml");
}

void writePremiereXmlFile(const std::filesystem::path& srtFile, const std::filesystem::path& output,
                          float fps, int width, int height, bool istianhe,
                          const std::function<std::string()>& newUuid) {
    checkFormat(fps, width, height);
    std::string bytes;
    try {
        bytes = readFile(srtFile);
    } catch (const FileError& error) {
        throw PremiereXmlError("无法读取文件 " + srtFile.string() + ": " + error.code().message());
    }
    const std::vector<SubtitleItem> items = readsrtofBytes(bytes);
    if (items.empty()) throw PremiereXmlError("SRT 中没有可用的字幕: " + srtFile.string());
    const std::string document =
        buildPremiereXml(items, srtFile.stem().string(), fps, width, height, istianhe, newUuid);
    try {
        writeFileAtomically(output, document);
    } catch (const FileError& error) {
        throw PremiereXmlError("无法写入文件 " + output.string() + ": " + error.code().message());
    }
}

std::filesystem::path writesrttoprbgxml(const std::filesystem::path& srturl, float fps, int width,
                                        int height, bool istianhe,
                                        const std::function<std::string()>& newUuid) {
    const std::filesystem::path output = premiereXmlPathFor(srturl);
    writePremiereXmlFile(srturl, output, fps, width, height, istianhe, newUuid);
    return output;
}

std::filesystem::path writesrttoprbgxml(const std::filesystem::path& srturl, float fps, int width,
                                        int height, bool istianhe) {
    return writesrttoprbgxml(srturl, fps, width, height, istianhe, [] { return uuidString(); });
}

}  // namespace quillora
