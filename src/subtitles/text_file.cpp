#include "subtitles/text_file.h"

#include "platform/files.h"
#include "text/unicode.h"

namespace quillora {

std::string readUtf8File(const std::filesystem::path& path) {
    std::string bytes;
    try {
        bytes = readFile(path);
    } catch (const FileError& error) {
        throw TextFileError("无法读取文件 " + path.string() + ": " + error.code().message());
    }
    if (!isValidUtf8(bytes)) throw TextFileError("文件不是 UTF-8 文本: " + path.string());
    return bytes;
}

void writeTextFile(const std::filesystem::path& path, std::string_view text) {
    try {
        writeFileAtomically(path, text);
    } catch (const FileError& error) {
        throw TextFileError("无法写入文件 " + path.string() + ": " + error.code().message());
    }
}

}  // namespace quillora
