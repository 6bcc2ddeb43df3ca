#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace quillora {

struct SubtitleItem;

/// A Premiere sequence that cannot be produced (no subtitles, unusable frame rate or size, a
/// time beyond any frame count, unreadable SRT, failed write); nothing is written.
class PremiereXmlError : public Error {
  public:
    using Error::Error;
};

/// Frame number of `seconds` at `fps`: the product in single precision, rounded half away from
/// zero. Throws PremiereXmlError when it is not finite or too large for a frame count.
int64_t premiereFrame(float seconds, float fps);

/// One still-picture clip item that links the image `picname`.png by name.
std::string myprclipitem(float sin, float sout, std::string_view picname, int64_t clipid, float fps,
                         int width, int height);

/// The xmeml (version 4) document for `items`, named `projectName`, at a whole frame rate or an
/// NTSC one (23.976, 29.97, 59.94: timebase 24, 30 or 60 marked NTSC, frames at the true rate).
/// When the first subtitle has a single text line every subtitle becomes a title on track 1;
/// otherwise track 1 holds one picture per subtitle (named by its first line) and tracks 2 and 3
/// the titles of the other lines. `istianhe` selects the name-plate variant. `newUuid` gives each
/// title's history id. Throws PremiereXmlError.
std::string buildPremiereXml(const std::vector<SubtitleItem>& items, std::string_view projectName,
                             float fps, int width, int height, bool istianhe,
                             const std::function<std::string()>& newUuid);
std::string buildPremiereXml(const std::vector<SubtitleItem>& items, std::string_view projectName,
                             float fps, int width, int height, bool istianhe);

/// Where writesrttoprbgxml writes: the SRT's folder, its name without extension + ".xml".
std::filesystem::path premiereXmlPathFor(const std::filesystem::path& srtFile);

/// Reads the SRT (with the SRT reader's encoding fallbacks) and writes its sequence, named after
/// the file, to `output` atomically. Throws PremiereXmlError; writes nothing on failure.
void writePremiereXmlFile(const std::filesystem::path& srtFile, const std::filesystem::path& output,
                          float fps, int width, int height, bool istianhe,
                          const std::function<std::string()>& newUuid);

/// Reads the SRT (with the SRT reader's encoding fallbacks), writes the sequence beside it
/// atomically and returns its location. Throws PremiereXmlError; writes nothing on failure.
std::filesystem::path writesrttoprbgxml(const std::filesystem::path& srturl, float fps, int width,
                                        int height, bool istianhe);
std::filesystem::path writesrttoprbgxml(const std::filesystem::path& srturl, float fps, int width,
                                        int height, bool istianhe,
                                        const std::function<std::string()>& newUuid);

}  // namespace quillora
