#include "app/system_desktop.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "platform/console.h"

namespace quillora {

namespace {

QUrl fileUrl(const std::filesystem::path& file) {
    return QUrl::fromLocalFile(QString::fromStdString(file.string()));
}

}  // namespace

void SystemDesktop::revealFile(const std::filesystem::path& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusInterface manager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                               "org.freedesktop.FileManager1", bus);
        if (manager.isValid()) {
            const QDBusMessage reply =
                manager.call("ShowItems", QStringList{fileUrl(file).toString()}, QString());
            if (reply.type() != QDBusMessage::ErrorMessage) return;
        }
    }
    // No file manager on the bus: open the folder instead.
    const QString folder = QString::fromStdString(file.parent_path().string());
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        console("⚠️ 无法打开文件夹: " + folder.toStdString());
    }
}

void SystemDesktop::openWithDefaultApplication(const std::filesystem::path& file) {
    if (!QDesktopServices::openUrl(fileUrl(file))) {
        console("⚠️ 无法打开文件: " + file.string());
    }
}

void SystemDesktop::openWithApplication(const std::filesystem::path& file,
                                        const DesktopApplication& application) {
    const std::vector<std::string> command = launchCommand(application, file);
    if (command.empty()) return;
    QStringList arguments;
    for (std::size_t i = 1; i < command.size(); ++i)
        arguments << QString::fromStdString(command[i]);
    if (!QProcess::startDetached(QString::fromStdString(command.front()), arguments)) {
        console("⚠️ 无法启动 " + application.name);
    }
}

void SystemDesktop::showNoPremiereAlert() {
    QMessageBox alert(QApplication::activeWindow());
    alert.setIcon(QMessageBox::Warning);
    alert.setText("未找到Adobe Premiere");
    alert.setInformativeText("请确保已安装Adobe Premiere软件");
    alert.addButton("确定", QMessageBox::AcceptRole);
    alert.exec();
}

std::optional<DesktopApplication> SystemDesktop::choosePremiereApplication(
    const std::vector<DesktopApplication>& candidates) {
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle("选择Adobe Premiere版本");
    dialog.setLabelText("选择Adobe Premiere版本");
    dialog.setOkButtonText("选择");
    dialog.setCancelButtonText("取消");
    QStringList names;
    for (const DesktopApplication& candidate : candidates)
        names << QString::fromStdString(candidate.name);
    dialog.setComboBoxItems(names);
    dialog.setComboBoxEditable(false);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const auto chosen = names.indexOf(dialog.textValue());
    if (chosen < 0) return std::nullopt;
    return candidates[static_cast<std::size_t>(chosen)];
}

}  // namespace quillora
