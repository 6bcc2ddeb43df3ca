#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "conversion/file_converter.h"

class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace quillora {

struct AppContext;
class ConverterRow;

/// The batch converter: files with coloured status badges and progress, one output format for
/// all, start, cancel and clear per file or together.
class ConverterScreen : public QWidget {
    Q_OBJECT
  public:
    explicit ConverterScreen(AppContext& context, QWidget* parent = nullptr);
    ~ConverterScreen() override;

    void addFiles(const std::vector<std::filesystem::path>& files);
    void startAll();
    void cancelAll();
    void clearCompleted();
    void setOutputFormat(OutputFormat format);
    FileConverter& converter() { return converter_; }
    /// The row widget of a file, by its id.
    ConverterRow* row(const std::string& id) const;

  signals:
    /// The list was redrawn from the converter.
    void refreshed();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void refresh();

    AppContext& context_;
    FileConverter converter_;
    QComboBox* format_;
    QPushButton* startAll_;
    QPushButton* cancelAll_;
    QPushButton* clearCompleted_;
    QListWidget* list_;
    QLabel* emptyState_;
    QLabel* counts_;
    QPushButton* statusCancel_;
    QTimer* refreshTimer_;
    std::map<std::string, ConverterRow*> rows_;
};

/// One file of the converter: name, badge, progress and the row's actions.
class ConverterRow : public QWidget {
    Q_OBJECT
  public:
    explicit ConverterRow(QWidget* parent = nullptr);
    void display(const MediaFile& file);
    QString badgeText() const;

  signals:
    void startRequested();
    void cancelRequested();
    void openRequested();
    void errorRequested();

  private:
    QLabel* name_;
    QLabel* badge_;
    QWidget* progress_;
    QProgressBar* bar_;
    QLabel* percent_;
    QPushButton* start_;
    QPushButton* cancel_;
    QPushButton* open_;
    QPushButton* error_;
};

}  // namespace quillora
