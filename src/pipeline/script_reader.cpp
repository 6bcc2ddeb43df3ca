#include "pipeline/script_reader.h"

#include <array>
#include <vector>

#include "pipeline/task_processing_error.h"
#include "platform/console.h"
#include "platform/documents/document_readers.h"
#include "platform/documents/office_converter.h"
#include "platform/files.h"
#include "text/script_codec.h"
#include "text/text_decoding.h"
#include "text/unicode.h"

namespace quillora {
namespace {

// Reading an old Word file takes a LibreOffice profile of its own, so it never waits behind the
// batch converter's two conversion slots.
constexpr int kDocReadingSlot = 2;

std::string readUtf8File(const std::filesystem::path& path) {
    std::optional<std::string> text = decodeUtf8(readFile(path));
    if (!text) {
        throw Error("文件“" + path.filename().string() + "”不是 UTF-8 编码的文本，无法读取");
    }
    return std::move(*text);
}

std::string readRTFFile(const std::filesystem::path& path, bool isRtfd) {
    try {
        return documents::readRtfDocument(path, isRtfd);
    } catch (const std::exception& error) {
        console(std::string("读取 RTF 文件时出错: ") + error.what());
        throw;
    }
}

std::string convertDOCXToPlainText(const std::filesystem::path& path, std::stop_token stop) {
    std::string text;
    try {
        if (toLower(path.extension().string()) == ".doc") {
            text = documents::OfficeConverter::forSlot(kDocReadingSlot).readText(path, stop);
        } else {
            text = documents::readDocxDocument(path);
        }
    } catch (const documents::OfficeCancelledError&) {
        throw TaskCancelledError();
    } catch (const std::exception& error) {
        console(std::string("❌ 读取 Word 文件时出错: ") + error.what());
        throw TaskProcessingError::textProcessingFailed();
    }
    if (text.empty()) throw TaskProcessingError::textProcessingFailed();
    return text;
}

}  // namespace

ScriptText processTextFile(const std::filesystem::path& path, std::stop_token stop) {
    const std::string extension = toLower(path.extension().string());
    std::string raw;
    if (extension == ".txt" || extension == ".srt") {
        raw = readUtf8File(path);
    } else if (extension == ".rtf" || extension == ".rtfd") {
        raw = readRTFFile(path, extension == ".rtfd");
    } else if (extension == ".docx" || extension == ".doc") {
        raw = convertDOCXToPlainText(path, stop);
    } else {
        throw TaskProcessingError::unsupportedTextFormat();
    }
    ScriptText script;
    script.content = removeFuhao(removeSpacelines(raw));
    script.lineCount = std::to_string(splitNewlines(script.content).size());
    return script;
}

std::string_view detectSeparator(std::string_view text) {
    static constexpr std::array<std::string_view, 5> candidates = {"：", ":", "-", "—", "——"};
    for (std::string_view candidate : candidates) {
        if (text.find(candidate) != std::string_view::npos) return candidate;
    }
    return candidates.front();
}

bool hasNameList(std::string_view txtcontent) {
    const std::string_view firstLine = splitNewlines(txtcontent).front();
    const std::string_view separator = detectSeparator(firstLine);
    if (firstLine.find(separator) == std::string_view::npos) return false;
    const std::vector<std::string_view> pieces = splitOn(firstLine, separator);
    if (pieces.size() < 2) return false;
    const std::string_view label = trimHorizontalWhitespace(pieces.front());
    return !label.empty() && graphemeCountUpTo(label, 10) < 10;
}

std::pair<std::string, std::string> processNameListText(std::string_view txtcontent) {
    std::vector<std::string_view> names;
    std::vector<std::string_view> lines;
    std::string_view lastName;
    for (const std::string_view piece : splitNewlines(txtcontent)) {
        const std::string_view trimmed = trimHorizontalWhitespace(piece);
        if (trimmed.empty()) continue;
        const std::string_view separator = detectSeparator(trimmed);
        const size_t at = trimmed.find(separator);
        if (at != std::string_view::npos) {
            const std::string_view name = trimHorizontalWhitespace(trimmed.substr(0, at));
            names.push_back(name);
            lines.push_back(trimHorizontalWhitespace(trimmed.substr(at + separator.size())));
            lastName = name;
        } else if (lastName.empty()) {
            names.push_back(trimmed);
            lines.emplace_back();
        } else {
            names.push_back(lastName);
            lines.push_back(trimmed);
        }
    }
    return {joinStrings(names, "\n"), joinStrings(lines, "\n")};
}

}  // namespace quillora
