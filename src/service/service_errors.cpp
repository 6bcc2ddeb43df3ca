#include "service/service_errors.h"

namespace quillora {

NetworkError NetworkError::requestFailed(const std::string& detail) {
    return {Kind::requestFailed, "网络请求失败: " + detail};
}
NetworkError NetworkError::statusCode(int code) {
    return {Kind::statusCode, "服务器返回错误状态码: " + std::to_string(code), code};
}
NetworkError NetworkError::decodingFailed(const std::string& detail) {
    return {Kind::decodingFailed, "数据解析失败: " + detail};
}
NetworkError NetworkError::encodingFailed(const std::string& detail) {
    return {Kind::encodingFailed, "数据编码失败: " + detail};
}
NetworkError NetworkError::invalidURL() {
    return {Kind::invalidURL, "无效的URL地址"};
}
NetworkError NetworkError::invalidResponse() {
    return {Kind::invalidResponse, "无效的服务器响应"};
}

UploadError UploadError::uploadFailed(int statusCode) {
    return {Kind::uploadFailed, "上传失败 (状态码: " + std::to_string(statusCode) + ")",
            statusCode};
}
UploadError UploadError::serverError(const std::string& message) {
    return {Kind::serverError, "服务器错误: " + message, 0, message};
}
UploadError UploadError::invalidURL() {
    return {Kind::invalidURL, "无效的URL地址"};
}
UploadError UploadError::fileReadFailed() {
    return {Kind::fileReadFailed, "文件读取失败"};
}
UploadError UploadError::invalidResponse() {
    return {Kind::invalidResponse, "无效的服务器响应"};
}
UploadError UploadError::jsonParsingFailed() {
    return {Kind::jsonParsingFailed, "JSON解析失败"};
}
UploadError UploadError::missingToken() {
    return {Kind::missingToken, "缺少Token"};
}
UploadError UploadError::invalidResponseFormat() {
    return {Kind::invalidResponseFormat, "无效的响应格式"};
}

}  // namespace quillora
