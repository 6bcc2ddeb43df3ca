#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillora {

struct Subtitle;

/// Headers of the two tables.
inline constexpr std::string_view kColumnTabHeader = "序号 \t开始时码  \t结束时码  \t  文本\n";
inline constexpr std::string_view kColumnCommaHeader = "序号,开始时码,结束时码,文本\n";

/// "%02d:%02d:%02d" of the whole seconds; hours wrap at 24 and milliseconds are dropped.
std::string columnTime(double seconds);

/// Tab-separated table: header, then number, start, end and text per subtitle.
std::string tabColumns(const std::vector<Subtitle>& subtitles);
/// Comma-separated table with the same rows (texts are not quoted).
std::string commaColumns(const std::vector<Subtitle>& subtitles);
/// The same table as a spreadsheet reads it back (RFC 4180): a text holding a comma, a quotation
/// mark or a line break is quoted, its quotation marks doubled.
std::string csvColumns(const std::vector<Subtitle>& subtitles);

/// The kinds of file the columns tool opens, by extension (any case).
enum class SubtitleFileKind { srt, premiereXml, fcpxml, fcpxmlBundle, unsupported };
SubtitleFileKind subtitleFileKind(const std::filesystem::path& file);

/// SRT text of a subtitle file: an SRT as UTF-8, a Premiere ".xml", an ".fcpxml" or an
/// ".fcpxmld" bundle (its "Info.fcpxml"). Throws TextFileError or EditorXmlError, and
/// TextFileError for other extensions.
std::string loadSubtitleFileAsSrt(const std::filesystem::path& file);

/// The state of the SRT-to-columns screen.
struct SrttoColumModel {
    std::string srtText;
    std::string numberText;  ///< comma table
    std::string txtText;     ///< plain text, one subtitle per line
    std::string columText;   ///< tab table
    std::string filename;

    /// Loads the chosen file by its extension and builds the texts, writing the console lines
    /// the screen keeps. Returns false for an extension it does not open (nothing changes).
    bool openFile(const std::filesystem::path& file);

    /// Builds columText and numberText from srtText.
    void doprintcolum();

    /// Writes txtText (".txt") or the tab table (".csv") as filename + extension in `folder`
    /// (the temporary folder by default), atomically. Returns the file, or nothing on failure.
    std::optional<std::filesystem::path> writeTextForEditor(
        const std::filesystem::path& folder = {}) const;
    std::optional<std::filesystem::path> writeColumnsForSpreadsheet(
        const std::filesystem::path& folder = {}) const;
};

}  // namespace quillora
