#include "pipeline/task_processing_error.h"

namespace quillora {

TaskProcessingError TaskProcessingError::uploadFailed(const std::string& underlying) {
    return {Kind::uploadFailed, "上传失败: " + underlying};
}
TaskProcessingError TaskProcessingError::deductionFailed(const std::string& message) {
    return {Kind::deductionFailed, "扣费失败: " + message};
}
TaskProcessingError TaskProcessingError::cancelled() {
    return {Kind::cancelled, "任务已取消"};
}
TaskProcessingError TaskProcessingError::mediaConversionFailed() {
    return {Kind::mediaConversionFailed, "媒体转换失败"};
}
TaskProcessingError TaskProcessingError::unsupportedTextFormat() {
    return {Kind::unsupportedTextFormat, "不支持的文本格式"};
}
TaskProcessingError TaskProcessingError::unsupportedMediaFormat() {
    return {Kind::unsupportedMediaFormat, "不支持的媒体格式"};
}
TaskProcessingError TaskProcessingError::textProcessingFailed() {
    return {Kind::textProcessingFailed, "文本处理失败"};
}
TaskProcessingError TaskProcessingError::mediaProcessingFailed() {
    return {Kind::mediaProcessingFailed, "媒体处理失败"};
}
TaskProcessingError TaskProcessingError::generalUploadFailed() {
    return {Kind::generalUploadFailed, "上传失败"};
}
TaskProcessingError TaskProcessingError::taskProcessorReleased() {
    return {Kind::taskProcessorReleased, "任务处理器已释放"};
}

}  // namespace quillora
