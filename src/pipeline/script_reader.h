#pragma once

// Turning a task's script file into the text uploaded with its audio, and splitting
// speaker-labelled scripts ("主持人：大家好") into a name column and a line column.

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

namespace quillora {

/// The normalised script and its number of lines (decimal text).
struct ScriptText {
    std::string content;
    std::string lineCount;
};

/// Reads the script by its lower-cased extension (txt/srt as UTF-8, rtf/rtfd, docx, and doc
/// through LibreOffice), then encodes it for upload. Throws TaskProcessingError
/// (unsupportedTextFormat, textProcessingFailed), TaskCancelledError when `stop` ends a DOC
/// reading, or the reading error.
ScriptText processTextFile(const std::filesystem::path& path, std::stop_token stop = {});

/// The label separator of one line: the first of "：", ":", "-", "—", "——" that occurs in
/// it, else "：". Because "—" is tried first, a line with "——" yields "—".
std::string_view detectSeparator(std::string_view text);

/// True when the first line is "label<separator>…" with a label of 1 to 9 characters.
bool hasNameList(std::string_view txtcontent);

/// Splits a labelled script into (names, lines), one entry per non-blank line, both joined by
/// "\n"; unlabelled lines take the last label.
std::pair<std::string, std::string> processNameListText(std::string_view txtcontent);

}  // namespace quillora
