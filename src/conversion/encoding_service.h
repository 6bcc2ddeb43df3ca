#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora {

/// Why a text file could not be detected or converted; description() is the user's text.
class EncodingError : public Error {
  public:
    enum class Kind {
        detectionFailed,
        conversionFailed,
        fileNotFound,
        fileTooLarge,
        unsupportedEncoding
    };

    static EncodingError detectionFailed(const std::string& message);
    static EncodingError conversionFailed(const std::string& message);
    static EncodingError fileNotFound();
    static EncodingError fileTooLarge();
    static EncodingError unsupportedEncoding();

    Kind kind() const { return kind_; }
    /// The payload of detectionFailed and conversionFailed; empty for the other kinds.
    const std::string& message() const { return message_; }

  private:
    EncodingError(Kind kind, std::string message, const std::string& description);
    Kind kind_;
    std::string message_;
};

/// Finds a text file's encoding with `uchardet` and rewrites it as UTF-8 with `iconv`, both
/// found on the PATH. Short East Asian texts, where uchardet guesses a Western code page, are
/// decided by the file's own bytes (see text/encoding_detection.h).
class EncodingService {
  public:
    /// Files above this many bytes are refused; a file of exactly this size is examined.
    static constexpr std::uintmax_t kMaxFileSize = 10'485'760;

    std::string uchardetPath = "uchardet";
    std::string iconvPath = "iconv";

    /// The iconv name of the file's encoding. Throws EncodingError, or ProcessLaunchError when
    /// the detector cannot be started.
    std::string detectEncoding(const std::filesystem::path& file) const;

    /// Writes the file's text as UTF-8 to `output`; characters without an equivalent are
    /// transliterated. Throws EncodingError, or ProcessLaunchError when iconv cannot be started.
    void convertToUTF8(const std::filesystem::path& input, const std::filesystem::path& output,
                       const std::string& encoding) const;

    /// The detector's name for an encoding → iconv's name (13 known names; others unchanged).
    static std::string mapEncodingToIconv(const std::string& name);

    /// The detector's answer, kept when it can be trusted for these bytes, else the encoding
    /// the bytes themselves show (before the name table).
    static std::string mendDetectorAnswer(const std::string& answer, std::string_view bytes);
};

}  // namespace quillora
