#include "subtitles/columns.h"

#include <cmath>
#include <cstdio>

#include "platform/console.h"
#include "platform/paths.h"
#include "subtitles/editor_xml_reader.h"
#include "subtitles/srt_parser.h"
#include "subtitles/text_file.h"
#include "text/script_codec.h"
#include "text/unicode.h"

namespace quillora {
namespace {

std::string table(std::string_view header, const std::vector<Subtitle>& subtitles, char separator) {
    std::string out(header);
    for (const Subtitle& subtitle : subtitles) {
        out.append(std::to_string(subtitle.index));
        out.push_back(separator);
        out.append(columnTime(subtitle.startTime));
        out.push_back(separator);
        out.append(columnTime(subtitle.endTime));
        out.push_back(separator);
        out.append(subtitle.text);
        out.push_back('\n');
    }
    return out;
}

std::optional<std::filesystem::path> writeForOpening(const std::filesystem::path& folder,
                                                     const std::string& name,
                                                     std::string_view extension,
                                                     std::string_view text) {
    try {
        const std::filesystem::path base = folder.empty() ? temporaryDirectory() : folder;
        const std::filesystem::path file = base / (name + std::string(extension));
        writeTextFile(file, text);
        return file;
    } catch (const std::exception& error) {
        // The screen opens nothing when the write fails; the reason only goes to the console.
        console(std::string("⚠️ ") + error.what());
        return std::nullopt;
    }
}

}  // namespace

std::string columnTime(double seconds) {
    int64_t whole = 0;
    if (std::isfinite(seconds) && std::fabs(seconds) < 9.0e18) {
        whole = static_cast<int64_t>(std::trunc(seconds));
    }
    const int64_t hours = (whole / 3600) % 24;
    const int64_t minutes = (whole % 3600) / 60;
    const int64_t secs = whole % 60;
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(secs));
    return buffer;
}

std::string tabColumns(const std::vector<Subtitle>& subtitles) {
    return table(kColumnTabHeader, subtitles, '\t');
}

std::string commaColumns(const std::vector<Subtitle>& subtitles) {
    return table(kColumnCommaHeader, subtitles, ',');
}

std::string csvColumns(const std::vector<Subtitle>& subtitles) {
    auto field = [](std::string_view text) {
        if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
        return "\"" + replaceAll(text, "\"", "\"\"") + "\"";
    };
    std::string out(kColumnCommaHeader);
    for (const Subtitle& subtitle : subtitles) {
        out.append(std::to_string(subtitle.index) + "," + columnTime(subtitle.startTime) + "," +
                   columnTime(subtitle.endTime) + "," + field(subtitle.text) + "\n");
    }
    return out;
}

SubtitleFileKind subtitleFileKind(const std::filesystem::path& file) {
    const std::string extension = lowerExtension(file);
    if (extension == "srt") return SubtitleFileKind::srt;
    if (extension == "xml") return SubtitleFileKind::premiereXml;
    if (extension == "fcpxml") return SubtitleFileKind::fcpxml;
    if (extension == "fcpxmld") return SubtitleFileKind::fcpxmlBundle;
    return SubtitleFileKind::unsupported;
}

std::string loadSubtitleFileAsSrt(const std::filesystem::path& file) {
    switch (subtitleFileKind(file)) {
        case SubtitleFileKind::srt:
            return readUtf8File(file);
        case SubtitleFileKind::premiereXml:
            return readXmemlFileAsSrt(file);
        case SubtitleFileKind::fcpxml:
            return readFcpxmlFileAsSrt(file);
        case SubtitleFileKind::fcpxmlBundle:
            return readFcpxmlFileAsSrt(file / "Info.fcpxml");
        case SubtitleFileKind::unsupported:
            break;
    }
    throw TextFileError("不支持的文件类型: " + file.string() +
                        " (可打开 srt、xml、fcpxml、fcpxmld)");
}

bool SrttoColumModel::openFile(const std::filesystem::path& file) {
    const std::string extension = lowerExtension(file);
    console("成功加载文件de扩展名是:" + extension);
    switch (subtitleFileKind(file)) {
        case SubtitleFileKind::premiereXml:
            console("myfcppath=" + file.string());
            srtText = xmltosrt(file);
            break;
        case SubtitleFileKind::fcpxml:
            console("myfcppath=" + file.string());
            srtText = fcpxmltosrt(file);
            break;
        case SubtitleFileKind::fcpxmlBundle:
            console("myfcppath=" + file.string());
            srtText = fcpxmltosrt(file / "Info.fcpxml");
            break;
        case SubtitleFileKind::srt:
            try {
                srtText = readUtf8File(file);
                console("成功加载TXT文件: " + file.filename().string() + "\n内容预览:  ");
            } catch (const TextFileError& error) {
                console("Error reading file: " + error.description());
                srtText.clear();
            }
            break;
        case SubtitleFileKind::unsupported:
            return false;
    }
    // The open actions name their files after this, whatever kind of file was opened.
    filename = file.filename().string();
    txtText = srttxt(srtText);
    doprintcolum();
    return true;
}

void SrttoColumModel::doprintcolum() {
    const std::vector<Subtitle> subtitles = SRTParser().parse(srtText);
    columText = tabColumns(subtitles);
    numberText = commaColumns(subtitles);
}

std::optional<std::filesystem::path> SrttoColumModel::writeTextForEditor(
    const std::filesystem::path& folder) const {
    return writeForOpening(folder, filename, ".txt", txtText);
}

std::optional<std::filesystem::path> SrttoColumModel::writeColumnsForSpreadsheet(
    const std::filesystem::path& folder) const {
    return writeForOpening(folder, filename, ".csv", columText);
}

}  // namespace quillora
