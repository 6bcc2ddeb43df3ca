#include "service/user_session.h"

#include "contract/platform_contract.h"
#include "platform/console.h"
#include "platform/error.h"
#include "platform/preferences.h"
#include "service/network_service.h"
#include "store/user_manager.h"

namespace quillora {

UserAuthManager& UserAuthManager::shared() {
    static UserAuthManager manager(Preferences::shared(), NotificationCenter::shared());
    return manager;
}

UserAuthManager::UserAuthManager(Preferences& preferences, NotificationCenter& notifications)
    : preferences_(preferences), notifications_(notifications) {
    checkAuthStatus();
    setupNotifications();
}

UserAuthManager::~UserAuthManager() {
    notifications_.unsubscribe(loginToken_);
    notifications_.unsubscribe(logoutToken_);
}

std::optional<StoredSignIn> readStoredSignIn(const Preferences& preferences) {
    std::optional<std::string> user = preferences.text(preference::kCurrentUser);
    if (!user || user->empty()) return std::nullopt;
    return StoredSignIn{std::move(*user), preferences.date(preference::kLastLoginTime)};
}

void UserAuthManager::checkAuthStatus() {
    std::optional<StoredSignIn> stored = readStoredSignIn(preferences_);
    if (!stored) return;
    std::lock_guard lock(mutex_);
    currentUser_ = std::move(stored->user);
    isAuthenticated_ = true;
    lastLoginTime_ = stored->lastLoginTime;
}

void UserAuthManager::setupNotifications() {
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
    logoutToken_ = notifications_.subscribe(notification::kUserDidLogout, [this](const auto&) {
        {
            std::lock_guard lock(mutex_);
            currentUser_.reset();
            isAuthenticated_ = false;
            lastLoginTime_.reset();
        }
        changed();
    });
}

void UserAuthManager::changed() {
    std::function<void()> onChange;
    {
        std::lock_guard lock(mutex_);
        onChange = onChange_;
    }
    if (onChange) onChange();
}

bool UserAuthManager::isAuthenticated() const {
    std::lock_guard lock(mutex_);
    return isAuthenticated_;
}

std::optional<std::string> UserAuthManager::currentUser() const {
    std::lock_guard lock(mutex_);
    return currentUser_;
}

std::optional<UserAuthManager::Date> UserAuthManager::lastLoginTime() const {
    std::lock_guard lock(mutex_);
    return lastLoginTime_;
}

void UserAuthManager::setOnChange(std::function<void()> onChange) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(onChange);
}

void UserAuthManager::logout() {
    preferences_.remove(preference::kCurrentUser);
    preferences_.remove(preference::kLastLoginTime);
    preferences_.remove(preference::kRememberMe);
    {
        std::lock_guard lock(mutex_);
        currentUser_.reset();
        isAuthenticated_ = false;
        lastLoginTime_.reset();
    }
    changed();
    notifications_.post(notification::kUserDidLogout);
}

LoginModel::LoginModel(NetworkService& service, UserManager& users, Preferences& preferences,
                       NotificationCenter& notifications)
    : service_(service), users_(users), preferences_(preferences), notifications_(notifications) {}

bool LoginModel::canSubmit() const {
    return !isLoading && !username.empty() && !password.empty();
}

void LoginModel::login() {
    errorMessage.clear();
    showError = false;
    isLoading = true;
    performSRTLogin();
}

void LoginModel::performSRTLogin() {
    try {
        const SRTLoginResponse response = service_.srtLogin(
            contract::kOperatorAccount, contract::kOperatorPassword, username, password);
        if (!response.success) {
            errorMessage = response.msg ? *response.msg : "登录失败";
            showError = true;
            console("❌ SRT登录失败: " + errorMessage);
        } else {
            preferences_.setText(preference::kCurrentUser, username);
            preferences_.setDate(preference::kLastLoginTime, std::chrono::system_clock::now());
            if (rememberMe) preferences_.setBool(preference::kRememberMe, true);
            if (response.user) {
                UserData user;
                user.userid = response.user->userid;
                user.preamount = response.user->preamount;
                user.phone = response.user->phone;
                user.zimu = response.user->zimu;
                user.shijianzhou = response.user->shijianzhou;
                user.paytype = response.user->paytype;
                user.srtPassword = password;
                users_.saveUser(user);
                console("✅ 用户信息保存到数据库成功");
            }
            notifications_.post(notification::kUserDidLogin, username);
            const bool hasPhone = response.user && response.user->phone;
            console("✅ SRT登录成功: " +
                    (hasPhone ? *response.user->phone : std::string("未知用户")));
        }
    } catch (const std::exception& error) {
        const std::string description = error.what();
        errorMessage = "网络错误: " + description;
        showError = true;
        console("❌ 登录异常: " + description);
    }
    isLoading = false;
}

}  // namespace quillora
