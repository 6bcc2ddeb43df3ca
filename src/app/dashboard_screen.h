#pragma once

#include <QWidget>

#include "shell/dashboard.h"

class QLabel;
class QPushButton;
class QProgressBar;

namespace quillora {

struct AppContext;
class Dialogs;
class NotificationBridge;
class TaskTable;

/// The two file choosers and their labels, shared by both dashboards.
class FilePickers : public QWidget {
    Q_OBJECT
  public:
    FilePickers(DashboardForm& form, Dialogs& dialogs, QWidget* parent = nullptr);
    /// Shows the form's current paths.
    void refresh();

  signals:
    void changed();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    DashboardForm& form_;
    Dialogs& dialogs_;
    QPushButton* textButton_;
    QPushButton* mediaButton_;
    QLabel* textPath_;
    QLabel* mediaPath_;
};

/// The task dashboard: choose a script and a recording, add them as a task, follow the table.
class DashboardScreen : public QWidget {
    Q_OBJECT
  public:
    DashboardScreen(AppContext& context, NotificationBridge& bridge, QWidget* parent = nullptr);

    void addNewTask();
    /// Chooses the scripts and recordings among `files` as a drop would; false if none is one.
    bool takeFiles(const std::vector<std::filesystem::path>& files);
    DashboardForm& form() { return form_; }
    TaskTable* table() const { return table_; }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void updateState();

    AppContext& context_;
    DashboardForm form_;
    FilePickers* pickers_;
    QPushButton* addButton_;
    QProgressBar* busy_;
    QLabel* busyLabel_;
    QLabel* result_;
    QLabel* error_;
    TaskTable* table_;
};

/// The data management screen, for routes the sidebar does not list: the same choosers and
/// table with sample data and clear-all.
class DataManagementScreen : public QWidget {
    Q_OBJECT
  public:
    DataManagementScreen(AppContext& context, NotificationBridge& bridge,
                         QWidget* parent = nullptr);
    TaskTable* table() const { return table_; }

  private:
    AppContext& context_;
    DashboardForm form_;
    TaskTable* table_;
};

}  // namespace quillora
