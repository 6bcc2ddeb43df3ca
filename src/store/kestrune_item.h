#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace quillora {

/// Task status texts; screens and the poller compare these exact strings.
namespace status {
inline constexpr const char* kPending = "待处理";
inline constexpr const char* kTranscoding = "转码中";
inline constexpr const char* kTextProcessed = "文本处理完成";
inline constexpr const char* kProcessing = "处理中";
inline constexpr const char* kUploaded = "上传成功";
inline constexpr const char* kPaid = "支付成功";
inline constexpr const char* kPaymentFailed = "支付失败";
inline constexpr const char* kFailed = "处理失败";
inline constexpr const char* kCancelled = "已取消";
inline constexpr const char* kSucceeded = "处理成功";
}  // namespace status

/// Which mutable fields were given a non-default value when the record was built.
struct ExplicitlySetFields {
    bool taskid = false;
    bool textFilePath = false;
    bool movieFilePath = false;
    bool duration = false;
    bool status = false;
    bool progress = false;
    bool movieurl = false;
    bool txturl = false;
    bool textlost = false;
    bool isrenmingtiao = false;
    bool part1 = false;
    bool part2 = false;
    bool isorderdownloaded = false;
    bool istaskdownloaded = false;
    bool orderfilename = false;

    bool operator==(const ExplicitlySetFields&) const = default;
};

/// One task: a recording paired with its script, carried to a finished subtitle. A plain value.
struct KestruneItem {
    using Date = std::chrono::system_clock::time_point;

    std::int64_t id = 0;
    std::string orderid;
    std::string taskid;
    std::string userid;
    std::string textFilePath;
    std::string movieFilePath;
    double duration = 0;
    Date submitDate{};
    std::string status = status::kPending;
    double progress = 0;
    std::string username;
    std::string movieurl;
    std::string txturl;
    std::string textlost;
    std::int32_t isrenmingtiao = 0;
    std::string part1;
    std::string part2;
    std::string type;
    std::string srt;
    std::int32_t notice = 0;
    bool isorderdownloaded = false;
    bool istaskdownloaded = false;
    std::string orderfilename;
    std::string outputFormat = "m4a";
    ExplicitlySetFields explicitlySet;

    KestruneItem() = default;

    /// The full initialiser: every stored field; outputFormat becomes "m4a" and each
    /// explicitlySet flag records whether its argument differs from the field's default.
    KestruneItem(std::int64_t id, std::string orderid, std::string taskid, std::string userid,
                 std::string textFilePath, std::string movieFilePath, double duration,
                 Date submitDate, std::string status, double progress, std::string username,
                 std::string movieurl, std::string txturl, std::string textlost,
                 std::int32_t isrenmingtiao, std::string part1, std::string part2, std::string type,
                 std::string srt, std::int32_t notice, bool isorderdownloaded,
                 bool istaskdownloaded, std::string orderfilename);

    /// A new dashboard task: fresh orderid/taskid, userid "001", username "local",
    /// textlost "0", submitted now.
    static KestruneItem newTask(const std::string& textFilePath, const std::string& movieFilePath);

    bool operator==(const KestruneItem&) const = default;
};

/// Keyed JSON form: keys are the field names, flags nested under "explicitlySet", the date as
/// seconds since 1970. Decoding requires every key and throws nlohmann::json::exception otherwise.
void to_json(nlohmann::json& json, const ExplicitlySetFields& flags);
void from_json(const nlohmann::json& json, ExplicitlySetFields& flags);
void to_json(nlohmann::json& json, const KestruneItem& item);
void from_json(const nlohmann::json& json, KestruneItem& item);

}  // namespace quillora
