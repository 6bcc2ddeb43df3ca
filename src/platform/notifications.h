#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace quillora {

/// The notification names the product posts and observes.
namespace notification {
inline constexpr const char* kTaskUpdated = "com.kestrune.taskProcessor.taskUpdated";
inline constexpr const char* kDatabaseUpdated = "DatabaseUpdatedNotification";
inline constexpr const char* kUserDidLogin = "userDidLogin";
inline constexpr const char* kUserDidLogout = "userDidLogout";
}  // namespace notification

/// Process-wide publish/subscribe. Callbacks run on the posting thread; a GUI observer hops to
/// its own thread. The payload is JSON: null for none, {"id","progress"} for a progress write.
class NotificationCenter {
  public:
    using Payload = nlohmann::json;
    using Callback = std::function<void(const Payload&)>;
    using Token = std::uint64_t;

    static NotificationCenter& shared();

    Token subscribe(const std::string& name, Callback callback);
    void unsubscribe(Token token);
    void post(const std::string& name, const Payload& payload = nullptr);

  private:
    struct Observer {
        std::string name;
        std::shared_ptr<Callback> callback;
    };
    std::mutex mutex_;
    std::map<Token, Observer> observers_;
    Token nextToken_ = 1;
};

}  // namespace quillora
