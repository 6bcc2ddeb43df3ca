#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace quillora {

/// The user's preferences: typed values under text keys in one JSON file, re-read on every access
/// so the app and the command line see each other's changes; every change is written atomically.
class Preferences {
  public:
    using Date = std::chrono::system_clock::time_point;

    explicit Preferences(std::filesystem::path file);

    /// The preferences in $XDG_CONFIG_HOME/quillora/preferences.json.
    static Preferences& shared();

    std::optional<std::string> text(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<Date> date(const std::string& key) const;

    void setText(const std::string& key, const std::string& value);
    void setBool(const std::string& key, bool value);
    void setNumber(const std::string& key, double value);
    void setDate(const std::string& key, Date value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

  private:
    /// The stored value, or null when the key is absent.
    nlohmann::json value(const std::string& key) const;
    void setValue(const std::string& key, nlohmann::json value);

    std::filesystem::path file_;
    mutable std::mutex mutex_;
};

}  // namespace quillora
