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

json Preferences::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const json document = load(file_);
    auto it = document.find(key);
    return it == document.end() ? json() : *it;
}

void Preferences::setValue(const std::string& key, json value) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    document[key] = std::move(value);
    store(file_, document);
}

std::optional<std::string> Preferences::text(const std::string& key) const {
    const json stored = value(key);
    if (!stored.is_string()) return std::nullopt;
    return stored.get<std::string>();
}

std::optional<bool> Preferences::boolean(const std::string& key) const {
    const json stored = value(key);
    if (!stored.is_boolean()) return std::nullopt;
    return stored.get<bool>();
}

std::optional<double> Preferences::number(const std::string& key) const {
    const json stored = value(key);
    if (!stored.is_number()) return std::nullopt;
    return stored.get<double>();
}

std::optional<Preferences::Date> Preferences::date(const std::string& key) const {
    const json stored = value(key);
    if (!stored.is_object()) return std::nullopt;
    auto seconds = stored.find(kDateKey);
    if (seconds == stored.end() || !seconds->is_number()) return std::nullopt;
    return Date(std::chrono::duration_cast<Date::duration>(
        std::chrono::duration<double>(seconds->get<double>())));
}

void Preferences::setText(const std::string& key, const std::string& text) {
    setValue(key, text);
}

void Preferences::setBool(const std::string& key, bool flag) {
    setValue(key, flag);
}

void Preferences::setNumber(const std::string& key, double number) {
    setValue(key, number);
}

void Preferences::setDate(const std::string& key, Date date) {
    const double seconds = std::chrono::duration<double>(date.time_since_epoch()).count();
    setValue(key, json{{kDateKey, seconds}});
}

void Preferences::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    json document = load(file_);
    if (document.erase(key) > 0) store(file_, document);
}

}  // namespace quillora
