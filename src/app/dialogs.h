#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <vector>

class QMimeData;
class QWidget;

namespace quillora {

/// The file choosers and message boxes the screens open; the application uses Qt's, tests answer
/// them without a person.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    virtual std::optional<std::filesystem::path> openFile(QWidget* parent, const QString& title,
                                                          const QString& filter) = 0;
    virtual std::vector<std::filesystem::path> openFiles(QWidget* parent, const QString& title,
                                                         const QString& filter) = 0;
    virtual std::optional<std::filesystem::path> openFolder(QWidget* parent,
                                                            const QString& title) = 0;
    /// A save dialog; `suggested` is the proposed file name.
    virtual std::optional<std::filesystem::path> saveFile(QWidget* parent, const QString& title,
                                                          const QString& suggested,
                                                          const QString& filter) = 0;
    /// "取消" / "确定"; true for "确定".
    virtual bool confirm(QWidget* parent, const QString& title, const QString& message) = 0;
    /// A message with one "确定" button.
    virtual void alert(QWidget* parent, const QString& title, const QString& message) = 0;
};

/// Qt's own dialogs.
class SystemDialogs : public Dialogs {
  public:
    std::optional<std::filesystem::path> openFile(QWidget* parent, const QString& title,
                                                  const QString& filter) override;
    std::vector<std::filesystem::path> openFiles(QWidget* parent, const QString& title,
                                                 const QString& filter) override;
    std::optional<std::filesystem::path> openFolder(QWidget* parent, const QString& title) override;
    std::optional<std::filesystem::path> saveFile(QWidget* parent, const QString& title,
                                                  const QString& suggested,
                                                  const QString& filter) override;
    bool confirm(QWidget* parent, const QString& title, const QString& message) override;
    void alert(QWidget* parent, const QString& title, const QString& message) override;
};

/// A file chooser's filter, e.g. "文本文件 (*.txt *.TXT …)", matching either case.
template <typename Extensions>
QString fileFilter(const QString& name, const Extensions& extensions) {
    QStringList patterns;
    for (const auto& extension : extensions) {
        const QString text = QString::fromUtf8(extension.data(), extension.size());
        patterns << "*." + text << "*." + text.toUpper();
    }
    return name + " (" + patterns.join(' ') + ")";
}

/// The local files of a drop (or of any URL list).
std::vector<std::filesystem::path> localFiles(const QMimeData* data);

}  // namespace quillora
