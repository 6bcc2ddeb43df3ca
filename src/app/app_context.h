#pragma once

#include <functional>
#include <string>

#include "shell/dashboard.h"

namespace quillora {

class DatabaseManager;
class Desktop;
class Dialogs;
class NetworkService;
class NotificationCenter;
class Preferences;
class UserAuthManager;
class UserManager;

/// The core objects the screens work with; the application passes the process-wide ones, tests
/// replace the desktop, the dialogs and the task hand-off to observe them.
struct AppContext {
    DatabaseManager& database;
    UserManager& users;
    NetworkService& network;
    Preferences& preferences;
    NotificationCenter& notifications;
    UserAuthManager& auth;
    Desktop& desktop;
    Dialogs& dialogs;
    /// Hands a new task to processing (called off the GUI thread).
    TaskHandOff processTask;
    /// Starts the result poller once the store is open (called off the GUI thread).
    std::function<void()> startPoller;
    /// The platform address the sign-in form names.
    std::string platformAddress;

    /// The process-wide objects with the system desktop and the task queue.
    static AppContext& shared();
};

}  // namespace quillora
