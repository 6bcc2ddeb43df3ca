#include "store/kestrune_item.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/uuid.h"

namespace quillora {
using nlohmann::json;

KestruneItem::KestruneItem(std::int64_t id, std::string orderid, std::string taskid,
                           std::string userid, std::string textFilePath, std::string movieFilePath,
                           double duration, Date submitDate, std::string status, double progress,
                           std::string username, std::string movieurl, std::string txturl,
                           std::string textlost, std::int32_t isrenmingtiao, std::string part1,
                           std::string part2, std::string type, std::string srt,
                           std::int32_t notice, bool isorderdownloaded, bool istaskdownloaded,
                           std::string orderfilename)
    : id(id),
      orderid(std::move(orderid)),
      taskid(std::move(taskid)),
      userid(std::move(userid)),
      textFilePath(std::move(textFilePath)),
      movieFilePath(std::move(movieFilePath)),
      duration(duration),
      submitDate(submitDate),
      status(std::move(status)),
      progress(progress),
      username(std::move(username)),
      movieurl(std::move(movieurl)),
      txturl(std::move(txturl)),
      textlost(std::move(textlost)),
      isrenmingtiao(isrenmingtiao),
      part1(std::move(part1)),
      part2(std::move(part2)),
      type(std::move(type)),
      srt(std::move(srt)),
      notice(notice),
      isorderdownloaded(isorderdownloaded),
      istaskdownloaded(istaskdownloaded),
      orderfilename(std::move(orderfilename)) {
    explicitlySet.taskid = !this->taskid.empty();
    explicitlySet.textFilePath = !this->textFilePath.empty();
    explicitlySet.movieFilePath = !this->movieFilePath.empty();
    explicitlySet.duration = this->duration != 0;
    explicitlySet.status = this->status != status::kPending;
    explicitlySet.progress = this->progress != 0;
    explicitlySet.movieurl = !this->movieurl.empty();
    explicitlySet.txturl = !this->txturl.empty();
    explicitlySet.textlost = !this->textlost.empty();
    explicitlySet.isrenmingtiao = this->isrenmingtiao != 0;
    explicitlySet.part1 = !this->part1.empty();
    explicitlySet.part2 = !this->part2.empty();
    explicitlySet.isorderdownloaded = this->isorderdownloaded;
    explicitlySet.istaskdownloaded = this->istaskdownloaded;
    explicitlySet.orderfilename = !this->orderfilename.empty();
}

KestruneItem KestruneItem::newTask(const std::string& textFilePath,
                                   const std::string& movieFilePath) {
    return KestruneItem(0, uuidWithoutDashes(), uuidWithoutDashes(), "001", textFilePath,
                        movieFilePath, 0, std::chrono::system_clock::now(), status::kPending, 0,
                        "local", "", "", "0", 0, "", "", "", "", 0, false, false, "");
}

// The flag and field lists are written out once each so that a renamed field breaks the build.
// clang-format reflows these lists differently on every pass.
// clang-format off
#define QUILLORA_FLAGS(X)                                                                        \
    X(taskid) X(textFilePath) X(movieFilePath) X(duration) X(status) X(progress) X(movieurl)     \
    X(txturl) X(textlost) X(isrenmingtiao) X(part1) X(part2) X(isorderdownloaded)                \
    X(istaskdownloaded) X(orderfilename)

#define QUILLORA_FIELDS(X)                                                                       \
    X(id) X(orderid) X(taskid) X(userid) X(textFilePath) X(movieFilePath) X(duration) X(status)  \
    X(progress) X(username) X(movieurl) X(txturl) X(textlost) X(isrenmingtiao) X(part1)          \
    X(part2) X(type) X(srt) X(notice) X(isorderdownloaded) X(istaskdownloaded) X(orderfilename)  \
    X(outputFormat)
// clang-format on

void to_json(json& j, const ExplicitlySetFields& flags) {
    j = json::object();
#define X(name) j[#name] = flags.name;
    QUILLORA_FLAGS(X)
#undef X
}

void from_json(const json& j, ExplicitlySetFields& flags) {
#define X(name) j.at(#name).get_to(flags.name);
    QUILLORA_FLAGS(X)
#undef X
}

void to_json(json& j, const KestruneItem& item) {
    j = json::object();
#define X(name) j[#name] = item.name;
    QUILLORA_FIELDS(X)
#undef X
    const auto whole = std::chrono::floor<std::chrono::seconds>(item.submitDate.time_since_epoch());
    const auto fraction = item.submitDate.time_since_epoch() - whole;
    j["submitDate"] =
        static_cast<double>(whole.count()) + std::chrono::duration<double>(fraction).count();
    j["explicitlySet"] = item.explicitlySet;
}

void from_json(const json& j, KestruneItem& item) {
#define X(name) j.at(#name).get_to(item.name);
    QUILLORA_FIELDS(X)
#undef X
    // Whole seconds and the fraction are converted apart: a double holds seconds since 1970 to
    // well under a microsecond, but not a nanosecond count.
    const double seconds = j.at("submitDate").get<double>();
    const double whole = std::floor(seconds);
    item.submitDate =
        KestruneItem::Date(std::chrono::seconds(static_cast<std::int64_t>(whole)) +
                           std::chrono::nanoseconds(std::llround((seconds - whole) * 1e9)));
    j.at("explicitlySet").get_to(item.explicitlySet);
}

#undef QUILLORA_FLAGS
#undef QUILLORA_FIELDS

}  // namespace quillora
