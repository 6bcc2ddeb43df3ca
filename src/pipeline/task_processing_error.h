#pragma once

#include <string>

#include "platform/error.h"

namespace quillora {

/// A failed step of the processing job; description() is the fixed Chinese text of the case.
class TaskProcessingError : public Error {
  public:
    enum class Kind {
        uploadFailed,
        deductionFailed,
        cancelled,
        mediaConversionFailed,
        unsupportedTextFormat,
        unsupportedMediaFormat,
        textProcessingFailed,
        mediaProcessingFailed,
        generalUploadFailed,
        taskProcessorReleased
    };

    /// "上传失败: " + the underlying error's description.
    static TaskProcessingError uploadFailed(const std::string& underlying);
    /// "扣费失败: " + message.
    static TaskProcessingError deductionFailed(const std::string& message);
    static TaskProcessingError cancelled();
    static TaskProcessingError mediaConversionFailed();
    static TaskProcessingError unsupportedTextFormat();
    static TaskProcessingError unsupportedMediaFormat();
    static TaskProcessingError textProcessingFailed();
    static TaskProcessingError mediaProcessingFailed();
    static TaskProcessingError generalUploadFailed();
    static TaskProcessingError taskProcessorReleased();

    Kind kind() const { return kind_; }

  private:
    TaskProcessingError(Kind kind, const std::string& description)
        : Error(description), kind_(kind) {}
    Kind kind_;
};

/// The job was asked to stop; it ends as "已取消".
class TaskCancelledError : public Error {
  public:
    TaskCancelledError() : Error("任务已取消") {}
};

}  // namespace quillora
