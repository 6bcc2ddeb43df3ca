#include "platform/notifications.h"

#include <vector>

namespace quillora {

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::subscribe(const std::string& name,
                                                        Callback callback) {
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    observers_.emplace(token, Observer{name, std::make_shared<Callback>(std::move(callback))});
    return token;
}

void NotificationCenter::unsubscribe(Token token) {
    std::lock_guard lock(mutex_);
    observers_.erase(token);
}

void NotificationCenter::post(const std::string& name, const Payload& payload) {
    // Call outside the lock so that an observer may subscribe, unsubscribe or post.
    std::vector<std::shared_ptr<Callback>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, observer] : observers_) {
            if (observer.name == name) matching.push_back(observer.callback);
        }
    }
    for (const auto& callback : matching)
        (*callback)(payload);
}

}  // namespace quillora
