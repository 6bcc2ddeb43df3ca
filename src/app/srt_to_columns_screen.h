#pragma once

#include <QWidget>

#include "subtitles/columns.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace quillora {

struct AppContext;

/// SRT to columns: open an SRT, a Premiere XML, an FCPXML or an FCPXML bundle; see its SRT
/// text, plain text and table; hand the plain text and the table to the desktop's applications.
class SrtToColumnsScreen : public QWidget {
    Q_OBJECT
  public:
    explicit SrtToColumnsScreen(AppContext& context, QWidget* parent = nullptr);

    void openFile(const std::filesystem::path& file);
    void openPlainText();
    void openColumns();
    const SrttoColumModel& model() const { return model_; }
    QTableWidget* table() const { return table_; }

  signals:
    void loaded();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void display(const SrttoColumModel& model, const std::vector<struct Subtitle>& subtitles);
    void handOff(bool columns);

    AppContext& context_;
    SrttoColumModel model_;
    QLabel* fileLabel_;
    QPushButton* plainButton_;
    QPushButton* columnsButton_;
    QLabel* error_;
    QPlainTextEdit* srt_;
    QPlainTextEdit* plain_;
    QTableWidget* table_;
};

}  // namespace quillora
