#pragma once

// The two SRT readers every tool shares. Both are lenient: a block without the expected shape
// (index line, "start --> end" line, text lines) is skipped silently.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillora {

/// One subtitle with times in seconds, as SRTParser reads it.
struct Subtitle {
    int64_t index = 0;  ///< the block's first line as a number, 0 if it is not one
    double startTime = 0;
    double endTime = 0;
    std::string text;  ///< text lines joined with one blank
    bool operator==(const Subtitle&) const = default;
};

/// One subtitle with single-precision times, as readsrtof reads it.
struct SubtitleItem {
    int64_t rowIndex = 0;  ///< the first line as a number, else the block's 1-based position
    float start = 0;
    float end = 0;
    std::string text;       ///< text lines joined with "\n"
    std::string firstLine;  ///< first text line
    std::string restLines;  ///< the other text lines joined with "\n"
    bool operator==(const SubtitleItem&) const = default;
};

/// Stateless SRT reader working on text in memory.
class SRTParser {
  public:
    /// Subtitles in file order; "\r\n" line ends are accepted. Unreadable time fields count 0.
    std::vector<Subtitle> parse(std::string_view srt) const;

    /// The SRT rebuilt with line i of `text` placed before subtitle i's own text, renumbered from
    /// 1 and ending with "\n\n". When the counts differ it writes a console line and returns
    /// `srt` unchanged.
    std::string merageText(std::string_view srt, std::string_view text) const;
};

/// Subtitles of the SRT file at `url`; an unreadable or empty file gives an empty list.
std::vector<SubtitleItem> readsrtof(const std::filesystem::path& url);

/// What readsrtof does once the file's bytes are in memory.
std::vector<SubtitleItem> readsrtofBytes(std::string_view bytes);

/// The text of a subtitle file's bytes: UTF-8, else the first of UTF-8, UTF-16, ASCII,
/// Windows-1252 and ISO Latin-1 that decodes them.
std::string decodeSubtitleText(std::string_view bytes);

/// The items of SRT text already decoded (markup "<b>" and "</b>" is removed first).
std::vector<SubtitleItem> parseSubtitleItems(std::string_view text);

}  // namespace quillora
