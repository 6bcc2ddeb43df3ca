#include "conversion/encoding_service.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/files.h"
#include "platform/process.h"
#include "text/encoding_detection.h"
#include "text/unicode.h"

namespace quillora {
namespace fs = std::filesystem;

EncodingError::EncodingError(Kind kind, std::string message, const std::string& description)
    : Error(description), kind_(kind), message_(std::move(message)) {}

EncodingError EncodingError::detectionFailed(const std::string& message) {
    return EncodingError(Kind::detectionFailed, message, "编码检测失败: " + message);
}
EncodingError EncodingError::conversionFailed(const std::string& message) {
    return EncodingError(Kind::conversionFailed, message, "编码转换失败: " + message);
}
EncodingError EncodingError::fileNotFound() {
    return EncodingError(Kind::fileNotFound, {}, "文件未找到");
}
EncodingError EncodingError::fileTooLarge() {
    return EncodingError(Kind::fileTooLarge, {}, "文件过大(超过10MB)，请选择较小文件");
}
EncodingError EncodingError::unsupportedEncoding() {
    return EncodingError(Kind::unsupportedEncoding, {}, "不支持的编码格式");
}

namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n\v\f");
    return std::string(text.substr(first, last - first + 1));
}

// A tool's standard error as the message of a failure: its text, or "未知错误" when not UTF-8.
std::string toolMessage(const std::string& standardError) {
    return isValidUtf8(standardError) ? trimmed(standardError) : "未知错误";
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\0'; });
}

}  // namespace

std::string EncodingService::mapEncodingToIconv(const std::string& name) {
    static const std::pair<const char*, const char*> kTable[] = {
        {"ASCII", "ASCII"},
        {"UTF-8", "UTF-8"},
        {"UTF-16", "UTF-16"},
        {"UTF-16LE", "UTF-16LE"},
        {"UTF-16BE", "UTF-16BE"},
        {"GB18030", "GB18030"},
        {"GB2312", "GB2312"},
        {"GBK", "GBK"},
        {"Big5", "BIG5"},
        {"Shift_JIS", "SHIFT-JIS"},
        {"EUC-JP", "EUC-JP"},
        {"ISO-8859-1", "ISO-8859-1"},
        {"Windows-1252", "WINDOWS-1252"},
    };
    for (const auto& [detector, converter] : kTable) {
        if (name == detector) return converter;
    }
    return name;
}

std::string EncodingService::mendDetectorAnswer(const std::string& answer, std::string_view bytes) {
    const bool guessing = answer == "unknown" || isSingleByteEncodingName(answer) ||
                          (answer == "ASCII" && !isAscii(bytes));
    // A multi-byte answer that cannot even decode the bytes is as much a guess.
    const bool refuted =
        !guessing && answer != "UTF-16" && answer != "UTF-32" &&
        !decodeStrictly(bytes.substr(0, 64 * 1024), answer, bytes.size() > 64 * 1024);
    if (!guessing && !refuted) return answer;
    if (auto eastAsian = detectEastAsianEncoding(bytes)) return *eastAsian;
    // A Western code page iconv can use stays; "unknown" and names iconv lacks do not.
    const bool usable = answer != "unknown" && decodeStrictly({}, answer).has_value();
    if (isAscii(bytes)) return usable && !refuted ? answer : "ASCII";
    // Multi-byte UTF-8 sequences do not happen by chance in Western text.
    if (isValidUtf8(bytes)) return "UTF-8";
    // Latin-1 read where bytes 0x80-0x9F occur would give control characters: those are
    // Windows-1252's quotes and dashes.
    const bool controls = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F;
    });
    if (usable && !refuted && answer != "ASCII" && !(answer == "ISO-8859-1" && controls)) {
        return answer;
    }
    return "WINDOWS-1252";
}

std::string EncodingService::detectEncoding(const fs::path& file) const {
    std::error_code ec;
    if (!fs::exists(file, ec)) throw EncodingError::fileNotFound();
    const auto size = fs::file_size(file, ec);
    if (!ec && size > kMaxFileSize) throw EncodingError::fileTooLarge();

    const ProcessResult result = runProcess(uchardetPath, {file.string()});
    const std::string answer =
        isValidUtf8(result.standardOutput) ? trimmed(result.standardOutput) : std::string();
    if (answer.empty()) {
        throw EncodingError::detectionFailed(toolMessage(result.standardError));
    }
    std::string bytes;
    try {
        bytes = readFile(file);
    } catch (const FileError& error) {
        throw EncodingError::detectionFailed(error.what());
    }
    return mapEncodingToIconv(mendDetectorAnswer(answer, bytes));
}

void EncodingService::convertToUTF8(const fs::path& input, const fs::path& output,
                                    const std::string& encoding) const {
    const ProcessResult result = runProcess(iconvPath, {"-f", encoding, "-t", "UTF-8//TRANSLIT",
                                                        input.string(), "-o", output.string()});
    if (result.exitStatus != 0) {
        throw EncodingError::conversionFailed(toolMessage(result.standardError));
    }
    std::error_code ec;
    if (!fs::exists(output, ec)) throw EncodingError::conversionFailed("输出文件未创建");
}

}  // namespace quillora
