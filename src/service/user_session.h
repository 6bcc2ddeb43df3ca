#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/notifications.h"

namespace quillora {

class NetworkService;
class Preferences;
class UserManager;

/// Preference keys of the sign-in.
namespace preference {
inline constexpr const char* kCurrentUser = "currentUser";
inline constexpr const char* kLastLoginTime = "lastLoginTime";
inline constexpr const char* kRememberMe = "rememberMe";
}  // namespace preference

/// The sign-in kept in the preferences: a user name that is present and not empty, with the
/// stored time of the sign-in (absent when missing or not a date).
struct StoredSignIn {
    std::string user;
    std::optional<std::chrono::system_clock::time_point> lastLoginTime;
};
std::optional<StoredSignIn> readStoredSignIn(const Preferences& preferences);

/// The sign-in state the main window watches: restored from the preferences at creation and
/// kept current by the sign-in and sign-out notifications. Thread-safe; onChange runs on the
/// thread that caused the change.
class UserAuthManager {
  public:
    using Date = std::chrono::system_clock::time_point;

    static UserAuthManager& shared();

    UserAuthManager(Preferences& preferences, NotificationCenter& notifications);
    ~UserAuthManager();
    UserAuthManager(const UserAuthManager&) = delete;
    UserAuthManager& operator=(const UserAuthManager&) = delete;

    bool isAuthenticated() const;
    std::optional<std::string> currentUser() const;
    std::optional<Date> lastLoginTime() const;

    /// Forgets the sign-in (the stored user record stays) and posts userDidLogout.
    void logout();

    /// Called after every change of the published state.
    void setOnChange(std::function<void()> onChange);

  private:
    void checkAuthStatus();
    void setupNotifications();
    void changed();

    Preferences& preferences_;
    NotificationCenter& notifications_;
    mutable std::mutex mutex_;
    bool isAuthenticated_ = false;
    std::optional<std::string> currentUser_;
    std::optional<Date> lastLoginTime_;
    std::function<void()> onChange_;
    NotificationCenter::Token loginToken_ = 0;
    NotificationCenter::Token logoutToken_ = 0;
};

/// The sign-in form's state and its submission, without any widgets.
class LoginModel {
  public:
    LoginModel(NetworkService& service, UserManager& users, Preferences& preferences,
               NotificationCenter& notifications);

    std::string username;
    std::string password;
    bool rememberMe = false;
    bool isLoading = false;
    std::string errorMessage;
    bool showError = false;

    /// The button is enabled when nothing is loading and both fields are filled.
    bool canSubmit() const;

    /// Clears the error, sets isLoading and signs in (blocking; the GUI calls it off its thread).
    void login();

    /// Signs the typed user in: on success writes the preferences, saves the user record and
    /// posts userDidLogin; on failure fills errorMessage. Always ends with isLoading false.
    void performSRTLogin();

  private:
    NetworkService& service_;
    UserManager& users_;
    Preferences& preferences_;
    NotificationCenter& notifications_;
};

}  // namespace quillora
