#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/ocr/subtitle_mask.h"

namespace quillora::ocr {

/// The recogniser cannot start (missing language data) or failed on an image.
class OcrError : public Error {
  public:
    using Error::Error;
};

struct RecognizedText {
    std::vector<std::string> lines;  // reading order, best candidate each
    int confidence = 0;              // 0..100
    bool traditional = false;        // `lines` come from the Traditional Chinese model
    // For lines with Chinese, both readings and how much surer the Traditional one is (mean
    // confidence lead, 0..100 scale, where the two read one character in its two scripts).
    // One line says little about its script; callers with many lines may pool the leads.
    std::vector<std::string> simplifiedLines;
    std::vector<std::string> traditionalLines;
    std::optional<double> traditionalLead;
    int traditionalConfidence = 0;
};

/// Which script's model reads the Chinese of a cue.
enum class ScriptChoice { compare, simplified, traditional };

/// The lead above which a line counts as Traditional Chinese.
inline constexpr double kTraditionalLead = 0.1;

/// One recognition engine; not thread-safe, so each worker thread owns one. Simplified Chinese
/// with English is read first; a line with Chinese is read again with Traditional Chinese and
/// English, and that reading wins only when clearly more confident. Loading both scripts in
/// one engine instead turns Simplified lines into Traditional characters. Lines without
/// Chinese are read again with English alone, which keeps the spaces between words.
class TextRecognizer {
  public:
    /// Throws OcrError when the language data cannot be loaded.
    TextRecognizer();
    ~TextRecognizer();
    TextRecognizer(const TextRecognizer&) = delete;
    TextRecognizer& operator=(const TextRecognizer&) = delete;

    /// Reads dark text on a light background, one image per line, all lines of one cue in one
    /// script: `compare` reads Chinese in both and keeps Traditional only when clearly surer;
    /// the other two read Chinese in that script alone.
    RecognizedText recognize(const std::vector<GrayImage>& lineImages,
                             ScriptChoice script = ScriptChoice::compare);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Lines joined with one space.
std::string joinLines(const std::vector<std::string>& lines);

/// Tesseract's OpenMP threads fight the worker threads for the cores and spin; the thread
/// limit can only be set before the process starts, so this re-executes the running program
/// once with OMP_THREAD_LIMIT=1. Returns only when no restart was needed or possible.
void restartWithSingleThreadedRecognition();

}  // namespace quillora::ocr
