#pragma once

#include <string>

#include "platform/error.h"

namespace quillora {

/// The transport failed (no connection, time-out, TLS); carries libcurl's own text.
class TransportError : public Error {
  public:
    explicit TransportError(const std::string& detail) : Error("网络请求失败: " + detail) {}
};

/// A reply body did not decode as the record the operation expects.
class DecodingError : public Error {
  public:
    explicit DecodingError(const std::string& detail)
        : Error("数据解析失败: " + detail), detail_(detail) {}
    const std::string& detail() const { return detail_; }

  private:
    std::string detail_;
};

/// A failed sign-in request.
class NetworkError : public Error {
  public:
    enum class Kind {
        requestFailed,
        statusCode,
        decodingFailed,
        encodingFailed,
        invalidURL,
        invalidResponse
    };

    static NetworkError requestFailed(const std::string& detail);
    static NetworkError statusCode(int code);
    static NetworkError decodingFailed(const std::string& detail);
    static NetworkError encodingFailed(const std::string& detail);
    static NetworkError invalidURL();
    static NetworkError invalidResponse();

    Kind kind() const { return kind_; }
    int code() const { return code_; }

  private:
    NetworkError(Kind kind, const std::string& description, int code = 0)
        : Error(description), kind_(kind), code_(code) {}
    Kind kind_;
    int code_;
};

/// A failed charge, task start, upload or result download; description() is the user's text.
class UploadError : public Error {
  public:
    enum class Kind {
        uploadFailed,
        serverError,
        invalidURL,
        fileReadFailed,
        invalidResponse,
        jsonParsingFailed,
        missingToken,
        invalidResponseFormat
    };

    static UploadError uploadFailed(int statusCode);
    static UploadError serverError(const std::string& message);
    static UploadError invalidURL();
    static UploadError fileReadFailed();
    static UploadError invalidResponse();
    static UploadError jsonParsingFailed();
    static UploadError missingToken();
    static UploadError invalidResponseFormat();

    Kind kind() const { return kind_; }
    int statusCode() const { return statusCode_; }
    const std::string& message() const { return message_; }

  private:
    UploadError(Kind kind, const std::string& description, int statusCode = 0,
                std::string message = {})
        : Error(description), kind_(kind), statusCode_(statusCode), message_(std::move(message)) {}
    Kind kind_;
    int statusCode_;
    std::string message_;
};

}  // namespace quillora
