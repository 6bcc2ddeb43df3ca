#include "service/responses.h"

#include <charconv>
#include <cmath>

#include "service/service_constants.h"
#include "service/service_errors.h"

namespace quillora {
using nlohmann::json;

namespace {

json parseObject(std::string_view body) {
    json document = json::parse(body.begin(), body.end(), nullptr, false);
    if (document.is_discarded()) throw DecodingError("回复不是有效的JSON");
    if (!document.is_object()) throw DecodingError("回复不是JSON对象");
    return document;
}

// A present key holding null counts as absent, as for any optional key.
const json* optionalKey(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const json& requiredKey(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        throw DecodingError(std::string("缺少字段 ") + key);
    }
    return *it;
}

std::int64_t readInteger(const json& value, const char* key) {
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // A float that is exactly a whole number in range reads as that integer.
        if (std::isfinite(number) && std::trunc(number) == number && std::abs(number) < 9.0e18) {
            return static_cast<std::int64_t>(number);
        }
    }
    throw DecodingError(std::string("字段 ") + key + " 不是整数");
}

double readNumber(const json& value, const char* key) {
    if (value.is_number()) return value.get<double>();
    throw DecodingError(std::string("字段 ") + key + " 不是数字");
}

std::string readText(const json& value, const char* key) {
    if (value.is_string()) return value.get<std::string>();
    throw DecodingError(std::string("字段 ") + key + " 不是文本");
}

bool readBoolean(const json& value, const char* key) {
    if (value.is_boolean()) return value.get<bool>();
    throw DecodingError(std::string("字段 ") + key + " 不是布尔值");
}

std::optional<std::int64_t> optionalInteger(const json& object, const char* key) {
    if (const json* value = optionalKey(object, key)) return readInteger(*value, key);
    return std::nullopt;
}
std::optional<double> optionalNumber(const json& object, const char* key) {
    if (const json* value = optionalKey(object, key)) return readNumber(*value, key);
    return std::nullopt;
}
std::optional<std::string> optionalText(const json& object, const char* key) {
    if (const json* value = optionalKey(object, key)) return readText(*value, key);
    return std::nullopt;
}

// Numeric text converts as a whole; anything else reads as 0.
double numberFromText(const std::string& text) {
    std::string_view view = text;
    if (!view.empty() && view.front() == '+') view.remove_prefix(1);
    double number = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), number);
    if (view.empty() || error != std::errc() || end != view.data() + view.size()) return 0;
    return number;
}

double readAmount(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw DecodingError(std::string("缺少字段 ") + key);
    if (it->is_number()) return it->get<double>();
    if (it->is_string()) return numberFromText(it->get<std::string>());
    throw DecodingError(std::string("字段 ") + key + " 既不是数字也不是文本");
}

SRTUser decodeUser(const json& value) {
    if (!value.is_object()) throw DecodingError("字段 user 不是对象");
    SRTUser user;
    user.userid = optionalInteger(value, "userid");
    user.preamount = optionalNumber(value, "preamount");
    user.phone = optionalText(value, "phone");
    user.zimu = optionalNumber(value, "zimu");
    user.shijianzhou = optionalNumber(value, "shijianzhou");
    user.paytype = optionalInteger(value, "paytype");
    return user;
}

DeductionData decodeDeductionData(const json& value) {
    if (!value.is_object()) throw DecodingError("字段 data 不是对象");
    DeductionData data;
    data.user_id = readText(requiredKey(value, "user_id"), "user_id");
    data.before_amount = readAmount(value, "before_amount");
    data.deduct_amount = readAmount(value, "deduct_amount");
    data.after_amount = readAmount(value, "after_amount");
    return data;
}

}  // namespace

SRTLoginResponse decodeLoginResponse(std::string_view body) {
    const json document = parseObject(body);
    SRTLoginResponse response;
    response.success = readBoolean(requiredKey(document, "success"), "success");
    response.status = optionalInteger(document, "status");
    response.msg = optionalText(document, "msg");
    if (const json* user = optionalKey(document, "user")) response.user = decodeUser(*user);
    return response;
}

DeductionResponse decodeDeductionResponse(std::string_view body) {
    const json document = parseObject(body);
    DeductionResponse response;
    response.code = optionalInteger(document, "code");
    response.status = optionalInteger(document, "status");
    response.message = optionalText(document, "message");
    response.msg = optionalText(document, "msg");
    if (const json* data = optionalKey(document, "data"))
        response.data = decodeDeductionData(*data);
    return response;
}

SimpleResponse decodeSimpleResponse(std::string_view body) {
    const json document = parseObject(body);
    SimpleResponse response;
    response.status = readInteger(requiredKey(document, "status"), "status");
    response.message = readText(requiredKey(document, "message"), "message");
    return response;
}

ChargeOutcome chargeOutcome(const DeductionResponse& response) {
    const bool succeeded = response.code ? *response.code == 200 : !response.status.has_value();
    if (succeeded) return {true, {}};
    std::string text = response.message ? *response.message
                       : response.msg   ? *response.msg
                                        : std::string("扣费失败");
    for (const char* balanceWord : {"余额不足", "余额不够", "no money"}) {
        if (text.find(balanceWord) != std::string::npos) {
            text += std::string("，请前往Quillora平台(") + service::kPlatformWebAddress + ")充值";
            break;
        }
    }
    return {false, text};
}

}  // namespace quillora
