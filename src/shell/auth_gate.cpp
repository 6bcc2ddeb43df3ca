#include "shell/auth_gate.h"

#include "service/user_session.h"

namespace quillora {

AuthGate::AuthGate(Preferences& preferences, NotificationCenter& notifications)
    : preferences_(preferences), notifications_(notifications) {
    loginToken_ = notifications_.subscribe(
        notification::kUserDidLogin, [this](const NotificationCenter::Payload& payload) {
            if (!payload.is_string()) return;
            {
                std::lock_guard lock(mutex_);
                currentUser_ = payload.get<std::string>();
                isAuthenticated_ = true;
                lastLoginTime_ = std::chrono::system_clock::now();
            }
            changed();
        });
}

AuthGate::~AuthGate() {
    notifications_.unsubscribe(loginToken_);
}

void AuthGate::checkAuthStatus() {
    std::optional<StoredSignIn> stored = readStoredSignIn(preferences_);
    if (!stored) return;
    {
        std::lock_guard lock(mutex_);
        currentUser_ = std::move(stored->user);
        isAuthenticated_ = true;
        lastLoginTime_ = stored->lastLoginTime;
    }
    changed();
}

bool AuthGate::isAuthenticated() const {
    std::lock_guard lock(mutex_);
    return isAuthenticated_;
}

std::optional<std::string> AuthGate::currentUser() const {
    std::lock_guard lock(mutex_);
    return currentUser_;
}

std::optional<AuthGate::Date> AuthGate::lastLoginTime() const {
    std::lock_guard lock(mutex_);
    return lastLoginTime_;
}

void AuthGate::setOnChange(std::function<void()> onChange) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(onChange);
}

void AuthGate::changed() {
    std::function<void()> onChange;
    {
        std::lock_guard lock(mutex_);
        onChange = onChange_;
    }
    if (onChange) onChange();
}

std::string loginInstructionText(const std::string& platformAddress) {
    return "说明：请使用 Quillora 平台账号登录。还没有账号？请前往 " + platformAddress + " 注册。";
}

}  // namespace quillora
