#include "app/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace quillora {

namespace {

std::filesystem::path toPath(const QString& file) {
    return std::filesystem::path(file.toStdString());
}

// The title as the main text and the message under it; `cancel` adds a "取消" button. True when
// "确定" was clicked.
bool runMessageBox(QWidget* parent, const QString& title, const QString& message, bool cancel) {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(title);
    box.setInformativeText(message);
    if (cancel) box.addButton("取消", QMessageBox::RejectRole);
    QPushButton* ok = box.addButton("确定", QMessageBox::AcceptRole);
    box.exec();
    return box.clickedButton() == ok;
}

}  // namespace

std::optional<std::filesystem::path> SystemDialogs::openFile(QWidget* parent, const QString& title,
                                                             const QString& filter) {
    const QString file = QFileDialog::getOpenFileName(parent, title, {}, filter);
    if (file.isEmpty()) return std::nullopt;
    return toPath(file);
}

std::vector<std::filesystem::path> SystemDialogs::openFiles(QWidget* parent, const QString& title,
                                                            const QString& filter) {
    std::vector<std::filesystem::path> files;
    for (const QString& file : QFileDialog::getOpenFileNames(parent, title, {}, filter))
        files.push_back(toPath(file));
    return files;
}

std::optional<std::filesystem::path> SystemDialogs::openFolder(QWidget* parent,
                                                               const QString& title) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title);
    if (folder.isEmpty()) return std::nullopt;
    return toPath(folder);
}

std::optional<std::filesystem::path> SystemDialogs::saveFile(QWidget* parent, const QString& title,
                                                             const QString& suggested,
                                                             const QString& filter) {
    const QString file = QFileDialog::getSaveFileName(parent, title, suggested, filter);
    if (file.isEmpty()) return std::nullopt;
    return toPath(file);
}

bool SystemDialogs::confirm(QWidget* parent, const QString& title, const QString& message) {
    return runMessageBox(parent, title, message, true);
}

void SystemDialogs::alert(QWidget* parent, const QString& title, const QString& message) {
    runMessageBox(parent, title, message, false);
}

std::vector<std::filesystem::path> localFiles(const QMimeData* data) {
    std::vector<std::filesystem::path> files;
    if (!data) return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files.push_back(toPath(url.toLocalFile()));
    }
    return files;
}

}  // namespace quillora
