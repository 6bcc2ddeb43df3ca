#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace quillora::ocr {

/// A float tensor: dimensions and values in row-major order.
struct Tensor {
    std::vector<int64_t> shape;
    std::vector<float> values;
};

/// One ONNX model with one float input and one float output, run on the CPU by the ONNX Runtime
/// library, which is loaded at run time from `runtimeLibrary` (no headers of it are needed at
/// build time). Each model runs on the calling thread alone: the worker threads that own the
/// models are the only parallelism. Not thread-safe; each worker owns one.
class OnnxModel {
  public:
    /// Throws OcrError when the library or the model cannot be loaded.
    OnnxModel(const std::filesystem::path& runtimeLibrary, const std::filesystem::path& model);
    ~OnnxModel();
    OnnxModel(const OnnxModel&) = delete;
    OnnxModel& operator=(const OnnxModel&) = delete;

    /// Runs the model on `input` (its values in row-major order); throws OcrError on failure.
    Tensor run(const Tensor& input);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillora::ocr
