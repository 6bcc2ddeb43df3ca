#pragma once

#include <QWidget>
#include <map>

#include "subtitles/fcpxml_writer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillora {

struct AppContext;

/// SRT to FCPXML: paste or open an SRT, set the title style (kept in the preferences), convert,
/// save, or convert many SRT files beside themselves.
class SrtToFcpxmlScreen : public QWidget {
    Q_OBJECT
  public:
    explicit SrtToFcpxmlScreen(AppContext& context, QWidget* parent = nullptr);

    void pasteSrt();
    void openSrtFile();
    void convert();
    void save();
    void convertBatch(const std::vector<std::filesystem::path>& files);
    const FcpxmlSettings& settings() const { return settings_; }
    QString resultText() const;

  signals:
    /// A conversion, save or batch finished.
    void finished();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void loadSrt(const std::filesystem::path& file);
    void setSetting(std::string FcpxmlSettings::*field, const QString& value);
    void showStatus(const QString& text, bool failed = false);

    AppContext& context_;
    FcpxmlSettings settings_;
    SrttoFcpxmlModel model_;
    QPlainTextEdit* srt_;
    QPlainTextEdit* result_;
    QLabel* status_;
};

}  // namespace quillora
