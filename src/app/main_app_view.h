#pragma once

#include <QMainWindow>
#include <QWidget>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "shell/auth_gate.h"
#include "shell/main_window.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace quillora {

struct AppContext;
class LoginView;
class NotificationBridge;

/// The signed-in main window content: sidebar, titled detail area and the user toolbar; the
/// sign-in form in its place while the shared session is signed out.
class MainAppView : public QWidget {
    Q_OBJECT
  public:
    MainAppView(AppContext& context, NotificationBridge& bridge, QWidget* parent = nullptr);

    void selectRoute(const std::string& route);
    const std::string& selectedRoute() const { return state_.selectedRoute; }
    QString title() const;
    QString welcomeText() const;
    /// The screen shown for the selected route (created on first use).
    QWidget* currentScreen() const;
    bool showsLoginForm() const;
    /// Files handed over by the desktop (the command line): the dashboard takes its scripts and
    /// recordings as from a drop, else the subtitle table tool an editor document; either waits
    /// for the sign-in if need be. False if neither takes any.
    bool openFiles(const std::vector<std::filesystem::path>& files);
    /// The form shown while signed out (made when first needed).
    LoginView* loginView() const { return login_; }
    QPushButton* logoutButton() const { return logout_; }
    QTreeWidget* sidebar() const { return sidebar_; }

  private:
    void syncAuthentication();
    QWidget* screenFor(Screen screen);

    AppContext& context_;
    NotificationBridge& bridge_;
    MainWindowState state_;
    bool contentVisible_ = false;
    std::string openedRoute_;  // a screen given files before the sign-in
    QStackedWidget* stack_;
    QWidget* content_;
    LoginView* login_ = nullptr;
    QTreeWidget* sidebar_;
    QLabel* title_;
    QLabel* welcome_;
    QPushButton* logout_;
    QStackedWidget* screens_;
    std::map<Screen, QWidget*> screenWidgets_;
};

/// The application window; its root is the sign-in gate, which shows the form until its own
/// copy of the sign-in state says otherwise. Opens the store and starts the poller when first
/// shown.
class RootWindow : public QMainWindow {
    Q_OBJECT
  public:
    RootWindow(AppContext& context, NotificationBridge& bridge, QWidget* parent = nullptr);
    ~RootWindow() override;

    MainAppView* mainView() const { return main_; }
    LoginView* gateLoginView() const { return login_; }
    bool showsMainView() const;

  signals:
    /// Start-up finished; `opened` tells whether the store opened.
    void startUpFinished(bool opened);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void syncGate();

    AppContext& context_;
    std::unique_ptr<AuthGate> gate_;
    bool shownOnce_ = false;
    QStackedWidget* stack_;
    LoginView* login_ = nullptr;
    MainAppView* main_;
};

}  // namespace quillora
