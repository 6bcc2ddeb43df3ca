#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace quillora {

struct AppContext;
class NotificationBridge;

/// The stored platform user: balance and per-minute prices.
class ProfileScreen : public QWidget {
    Q_OBJECT
  public:
    explicit ProfileScreen(AppContext& context, QWidget* parent = nullptr);
    /// Reads the stored user off the GUI thread and shows it.
    void loadUserData();

  signals:
    void loaded();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    AppContext& context_;
    QLabel* loading_;
    QWidget* content_;
    QLabel* name_;
    QLabel* balance_;
    QLabel* phone_;
    QLabel* payType_;
    QLabel* shijianzhou_;
    QLabel* zimu_;
};

/// General settings that live only while the screen exists.
class SettingsScreen : public QWidget {
    Q_OBJECT
  public:
    explicit SettingsScreen(QWidget* parent = nullptr);
};

/// The signed-in user and the time of the sign-in.
class UsersScreen : public QWidget {
    Q_OBJECT
  public:
    UsersScreen(AppContext& context, NotificationBridge& bridge, QWidget* parent = nullptr);
    void refresh();

  private:
    AppContext& context_;
    QLabel* user_;
    QLabel* lastLogin_;
};

}  // namespace quillora
