#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace quillora {

/// The platform's account record in a sign-in reply.
struct SRTUser {
    std::optional<std::int64_t> userid;
    std::optional<double> preamount;
    std::optional<std::string> phone;
    std::optional<double> zimu;
    std::optional<double> shijianzhou;
    std::optional<std::int64_t> paytype;
};

/// Reply of the sign-in request; `success` is the only required key.
struct SRTLoginResponse {
    bool success = false;
    std::optional<std::int64_t> status;
    std::optional<std::string> msg;
    std::optional<SRTUser> user;
};

/// The balance movement of a charge; amounts arrive as JSON numbers or as numeric text.
struct DeductionData {
    std::string user_id;
    double before_amount = 0;
    double deduct_amount = 0;
    double after_amount = 0;
};

/// Reply of the charging request; every key optional.
struct DeductionResponse {
    std::optional<std::int64_t> code;
    std::optional<std::int64_t> status;
    std::optional<std::string> message;
    std::optional<std::string> msg;
    std::optional<DeductionData> data;
};

/// Reply of the task start request; both keys required.
struct SimpleResponse {
    std::int64_t status = 0;
    std::string message;
};

/// A successful upload: the HTTP status and the reply's top-level JSON object.
struct UploadResult {
    int statusCode = 0;
    nlohmann::json responseData = nlohmann::json::object();
};

/// Decoders of reply bodies; each throws DecodingError when the body does not fit the record.
SRTLoginResponse decodeLoginResponse(std::string_view body);
DeductionResponse decodeDeductionResponse(std::string_view body);
SimpleResponse decodeSimpleResponse(std::string_view body);

/// How the pipeline reads a charge reply.
struct ChargeOutcome {
    bool succeeded = false;
    /// Empty on success; otherwise the refusal text, with the recharge hint when the balance
    /// was the reason.
    std::string failureText;
};

/// Success when `code` is 200, or when neither `code` nor `status` is present.
ChargeOutcome chargeOutcome(const DeductionResponse& response);

}  // namespace quillora
