#pragma once

// What the widget suites share: one temporary home with the reference server on a free port,
// the process-wide stores pointed into it, and a desktop and dialogs that record and answer.

#include <QStringList>
#include <deque>
#include <memory>

#include "app/app_context.h"
#include "app/dialogs.h"
#include "app/notification_bridge.h"
#include "server/test_platform.h"
#include "shell/editor_handoff.h"
#include "support/temp_home.h"

class QMenu;
class QAction;

namespace quillora::testing {

/// Records what the hand-off asks of the desktop.
struct RecordingDesktop : Desktop {
    QStringList calls;
    void revealFile(const std::filesystem::path& file) override;
    void openWithDefaultApplication(const std::filesystem::path& file) override;
    void openWithApplication(const std::filesystem::path& file,
                             const DesktopApplication& app) override;
    void showNoPremiereAlert() override;
    std::optional<DesktopApplication> choosePremiereApplication(
        const std::vector<DesktopApplication>&) override;
};

/// Answers the screens' dialogs from queues the test fills; an empty queue means "cancelled"
/// (and "确定" for confirmations). Alerts are recorded as "title: message".
struct ScriptedDialogs : Dialogs {
    std::deque<std::vector<std::filesystem::path>> files;
    std::deque<std::filesystem::path> saves;
    std::deque<bool> confirmations;
    QStringList alerts;
    QStringList titles;

    std::optional<std::filesystem::path> openFile(QWidget*, const QString& title,
                                                  const QString&) override;
    std::vector<std::filesystem::path> openFiles(QWidget*, const QString& title,
                                                 const QString&) override;
    std::optional<std::filesystem::path> openFolder(QWidget*, const QString& title) override;
    std::optional<std::filesystem::path> saveFile(QWidget*, const QString& title,
                                                  const QString& suggested,
                                                  const QString&) override;
    bool confirm(QWidget*, const QString& title, const QString& message) override;
    void alert(QWidget*, const QString& title, const QString& message) override;
};

/// The shared environment, made on first use and kept for the whole run.
struct AppEnvironment {
    static AppEnvironment& get();

    TempHome home;
    TestPlatform platform;
    RecordingDesktop desktop;
    ScriptedDialogs dialogs;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<NotificationBridge> bridge;

  private:
    AppEnvironment();
};

/// The action with that text anywhere in the menu or its submenus.
QAction* findAction(QMenu* menu, const QString& text);

}  // namespace quillora::testing
