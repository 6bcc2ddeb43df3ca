#include "platform/preferences.h"

#include <nlohmann/json.hpp>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace quillora {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Dates are kept as {"date": seconds since 1970} so they cannot be mistaken for numbers.
constexpr const char* kDateKey = "date";

json load(const fs::path& file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return json::object();
    try {
        json document = json::parse(readFile(file));
        if (document.is_object()) return document;
    } catch (const std::exception& error) {
        console("⚠️ 无法读取偏好设置文件 " + file.string() + ": " + error.what());
        return json::object();
    }
    console("⚠️ 偏好设置文件格式无效: " + file.string());
    return json::object();
}

void store(const fs::path& file, const json& document) {
    fs::create_directories(file.parent_path());
    writeFileAtomically(file, document.dump(2) + "\n", 0600);
}

}  // namespace

Preferences::Preferences(fs::path file) : file_(std::move(file)) {}

Preferences& Preferences::shared() {
    static Preferences preferences(configDirectory() / "preferences.json");
    return preferences;
}

std::optional<std::string> Preferences::text(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const json document = load(file_);
    auto it = document.find(key);
    if (it == document.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<bool> Preferences::boolean(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const json document = load(file_);
    auto it = document.find(key);
    if (it == document.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

std::optional<double> Preferences::number(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const json document = load(file_);
    auto it = document.find(key);
    if (it == document.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::optional<Preferences::Date> Preferences::date(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const json document = load(file_);
    auto it = document.find(key);
    if (it == document.end() || !it->is_object()) return std::nullopt;
    auto seconds = it->find(kDateKey);
    if (seconds == it->end() || !seconds->is_number()) return std::nullopt;
    return Date(std::chrono::duration_cast<Date::duration>(
        std::chrono::duration<double>(seconds->get<double>())));
}

void Preferences::setText(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    document[key] = value;
    store(file_, document);
}

void Preferences::setBool(const std::string& key, bool value) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    document[key] = value;
    store(file_, document);
}

void Preferences::setNumber(const std::string& key, double value) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    document[key] = value;
    store(file_, document);
}

void Preferences::setDate(const std::string& key, Date value) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    const double seconds = std::chrono::duration<double>(value.time_since_epoch()).count();
    document[key] = json{{kDateKey, seconds}};
    store(file_, document);
}

void Preferences::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    if (document.erase(key) > 0) store(file_, document);
}

}  // namespace quillora
