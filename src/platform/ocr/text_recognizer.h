#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/ocr/subtitle_mask.h"

namespace quillora::ocr {

/// The recogniser cannot start (missing model or runtime) or failed on an image.
class OcrError : public Error {
  public:
    using Error::Error;
};

struct RecognizedText {
    std::vector<std::string> lines;  // reading order, best candidate each
    int confidence = 0;              // 0..100
};

/// The folder holding the recognition model and its runtime: $QUILLORA_OCR_MODELS when set,
/// else the installed copy when there is one, else the checkout's, where `make deps` puts them.
std::filesystem::path recognitionModelFolder();

/// Reads single text lines with a neural line recogniser (convolutional, with a CTC output over
/// a character list) that knows Simplified and Traditional Chinese, Latin letters, digits and
/// punctuation, and reads each character in the script it is drawn in. Not thread-safe, so
/// each worker thread owns one; each runs on its own thread only.
class TextRecognizer {
  public:
    /// Loads the model from `recognitionModelFolder()`; throws OcrError, saying what is missing
    /// and how to install it, when it cannot.
    TextRecognizer();
    ~TextRecognizer();
    TextRecognizer(const TextRecognizer&) = delete;
    TextRecognizer& operator=(const TextRecognizer&) = delete;

    /// Reads dark text on a light background, one image per line; lines read as nothing are
    /// left out.
    RecognizedText recognize(const std::vector<GrayImage>& lineImages);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Lines joined with one space.
std::string joinLines(const std::vector<std::string>& lines);

}  // namespace quillora::ocr
