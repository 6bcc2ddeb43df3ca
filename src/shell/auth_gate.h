#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/notifications.h"

namespace quillora {

class Preferences;

/// The window root's own copy of the sign-in state: restored from the preferences when the root
/// is shown and set by userDidLogin. It does not observe userDidLogout; after a sign-out the main
/// window shows the form itself because the shared UserAuthManager is signed out.
class AuthGate {
  public:
    using Date = std::chrono::system_clock::time_point;

    AuthGate(Preferences& preferences, NotificationCenter& notifications);
    ~AuthGate();
    AuthGate(const AuthGate&) = delete;
    AuthGate& operator=(const AuthGate&) = delete;

    /// Reads the stored sign-in; a stored user signs the gate in, otherwise nothing changes.
    void checkAuthStatus();

    bool isAuthenticated() const;
    std::optional<std::string> currentUser() const;
    std::optional<Date> lastLoginTime() const;

    /// Called after every change, on the thread that caused it.
    void setOnChange(std::function<void()> onChange);

  private:
    void changed();

    Preferences& preferences_;
    NotificationCenter& notifications_;
    mutable std::mutex mutex_;
    bool isAuthenticated_ = false;
    std::optional<std::string> currentUser_;
    std::optional<Date> lastLoginTime_;
    std::function<void()> onChange_;
    NotificationCenter::Token loginToken_ = 0;
};

/// The sign-in form's instruction line, naming the platform address for new registrations.
std::string loginInstructionText(const std::string& platformAddress);

}  // namespace quillora
