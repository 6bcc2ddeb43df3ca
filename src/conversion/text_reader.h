#pragma once

#include <filesystem>
#include <string>

namespace quillora {

/// A text file's contents as UTF-8 and the encoding they were read from.
struct DecodedText {
    std::string text;      ///< UTF-8, without a byte-order mark
    std::string encoding;  ///< iconv's name of the file's encoding ("UTF-8", "GB18030", ...)
};

/// Reads a text file in whatever encoding it is written (UTF-8 and ASCII directly, others
/// detected as the encoding service detects them, or `encoding` when given) and converts it to
/// UTF-8 in memory. Throws EncodingError (missing, too large, undetectable, or not valid in the
/// encoding), or ProcessLaunchError when the detector cannot be started.
DecodedText readTextInAnyEncoding(const std::filesystem::path& file,
                                  const std::string& encoding = {});

/// True when `encoding` needs saying: the file was not plain UTF-8 or ASCII.
bool isLegacyEncoding(const std::string& encoding);

}  // namespace quillora
