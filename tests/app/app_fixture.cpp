#include "app_fixture.h"

#include <QAction>
#include <QMenu>

#include "pipeline/task_processor.h"
#include "platform/notifications.h"
#include "platform/preferences.h"
#include "service/network_service.h"
#include "service/user_session.h"
#include "store/database_manager.h"
#include "store/user_manager.h"

namespace quillora::testing {

namespace {

QString name(const std::filesystem::path& file) {
    return QString::fromStdString(file.filename().string());
}

}  // namespace

void RecordingDesktop::revealFile(const std::filesystem::path& file) {
    calls << "reveal " + name(file);
}

void RecordingDesktop::openWithDefaultApplication(const std::filesystem::path& file) {
    calls << "open " + name(file);
}

void RecordingDesktop::openWithApplication(const std::filesystem::path& file,
                                           const DesktopApplication& app) {
    calls << "open " + name(file) + " with " + QString::fromStdString(app.name);
}

void RecordingDesktop::showNoPremiereAlert() {
    calls << "alert";
}

std::optional<DesktopApplication> RecordingDesktop::choosePremiereApplication(
    const std::vector<DesktopApplication>&) {
    calls << "choose";
    return std::nullopt;
}

std::optional<std::filesystem::path> ScriptedDialogs::openFile(QWidget*, const QString& title,
                                                               const QString&) {
    titles << title;
    if (files.empty() || files.front().empty()) {
        if (!files.empty()) files.pop_front();
        return std::nullopt;
    }
    const std::filesystem::path file = files.front().front();
    files.pop_front();
    return file;
}

std::vector<std::filesystem::path> ScriptedDialogs::openFiles(QWidget*, const QString& title,
                                                              const QString&) {
    titles << title;
    if (files.empty()) return {};
    std::vector<std::filesystem::path> chosen = files.front();
    files.pop_front();
    return chosen;
}

std::optional<std::filesystem::path> ScriptedDialogs::openFolder(QWidget* parent,
                                                                 const QString& title) {
    return openFile(parent, title, {});
}

std::optional<std::filesystem::path> ScriptedDialogs::saveFile(QWidget*, const QString& title,
                                                               const QString& suggested,
                                                               const QString&) {
    titles << title + " " + suggested;
    if (saves.empty()) return std::nullopt;
    const std::filesystem::path file = saves.front();
    saves.pop_front();
    return file;
}

bool ScriptedDialogs::confirm(QWidget*, const QString& title, const QString& message) {
    titles << title + ": " + message;
    if (confirmations.empty()) return true;
    const bool answer = confirmations.front();
    confirmations.pop_front();
    return answer;
}

void ScriptedDialogs::alert(QWidget*, const QString& title, const QString& message) {
    alerts << title + ": " + message;
}

AppEnvironment& AppEnvironment::get() {
    static AppEnvironment environment;
    return environment;
}

AppEnvironment::AppEnvironment() {
    // Editors are looked up in these folders only, so the machine's own entries never count.
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString((home.path() / "share").string()));
    platform.accounts().addAccount(aliceAccount("secret", 30));
    qputenv("QUILLORA_API_URL", QByteArray::fromStdString(platform.baseURL()));
    qputenv("QUILLORA_TASK_URL", QByteArray::fromStdString(platform.baseURL()));
    context = std::make_unique<AppContext>(
        AppContext{DatabaseManager::shared(), UserManager::shared(), NetworkService::shared(),
                   Preferences::shared(), NotificationCenter::shared(), UserAuthManager::shared(),
                   desktop, dialogs, TaskProcessor::shared(), [] {}, platform.baseURL()});
    bridge = std::make_unique<NotificationBridge>(context->notifications);
    bridge->watch(context->auth);
}

QAction* findAction(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) return action;
        if (action->menu()) {
            if (QAction* inner = findAction(action->menu(), text)) return inner;
        }
    }
    return nullptr;
}

}  // namespace quillora::testing
