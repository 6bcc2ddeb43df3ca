#pragma once

#include <functional>
#include <string>

namespace quillora {

class DatabaseManager;
class Desktop;
class Dialogs;
class NetworkService;
class NotificationCenter;
class Preferences;
class TaskProcessor;
class UserAuthManager;
class UserManager;

/// The core objects the screens work with; the application passes the process-wide ones, tests
/// replace the desktop and the dialogs to observe and answer them.
struct AppContext {
    DatabaseManager& database;
    UserManager& users;
    NetworkService& network;
    Preferences& preferences;
    NotificationCenter& notifications;
    UserAuthManager& auth;
    Desktop& desktop;
    Dialogs& dialogs;
    /// Runs new tasks on its own worker; deleted rows and teardown cancel through it.
    TaskProcessor& processor;
    /// Starts the result poller once the store is open (called off the GUI thread).
    std::function<void()> startPoller;
    /// The platform address the sign-in form names.
    std::string platformAddress;

    /// The process-wide objects with the system desktop and dialogs.
    static AppContext& shared();
    /// The process-wide services and the system desktop, with the caller's dialogs, poller start
    /// and platform address (the bench and the screenshot tool answer dialogs themselves).
    static AppContext withSharedServices(Dialogs& dialogs, std::function<void()> startPoller,
                                         std::string platformAddress);
};

}  // namespace quillora
