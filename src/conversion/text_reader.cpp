#include "conversion/text_reader.h"

#include <system_error>

#include "conversion/encoding_service.h"
#include "platform/files.h"
#include "text/encoding_detection.h"
#include "text/unicode.h"

namespace quillora {
namespace fs = std::filesystem;

bool isLegacyEncoding(const std::string& encoding) {
    return encoding != "UTF-8" && encoding != "ASCII";
}

DecodedText readTextInAnyEncoding(const fs::path& file, const std::string& encoding) {
    std::error_code ec;
    if (!fs::exists(file, ec)) throw EncodingError::fileNotFound();
    if (fs::is_regular_file(file, ec) && fs::file_size(file, ec) > EncodingService::kMaxFileSize) {
        throw EncodingError::fileTooLarge();
    }
    std::string bytes;
    try {
        bytes = readFile(file);
    } catch (const std::exception& error) {
        throw EncodingError::detectionFailed(error.what());
    }
    DecodedText decoded;
    // Well-formed UTF-8 needs no detector (and no process) unless the user names another.
    if (encoding.empty() && isValidUtf8(bytes)) {
        decoded.encoding = "UTF-8";
        decoded.text = std::move(bytes);
    } else {
        decoded.encoding = encoding.empty() ? EncodingService().detectEncoding(file) : encoding;
        auto text = decodeStrictly(bytes, decoded.encoding);
        if (!text) {
            throw EncodingError::conversionFailed(file.filename().string() + " 不是有效的 " +
                                                  decoded.encoding + " 文本");
        }
        decoded.text = std::move(*text);
    }
    if (decoded.text.rfind("\xEF\xBB\xBF", 0) == 0) decoded.text.erase(0, 3);
    return decoded;
}

}  // namespace quillora
