#pragma once

#include <QWidget>

#include "service/user_session.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quillora {

struct AppContext;

/// The sign-in form. The platform call runs off the GUI thread; a success is announced by
/// userDidLogin, which the session holders follow.
class LoginView : public QWidget {
    Q_OBJECT
  public:
    explicit LoginView(AppContext& context, QWidget* parent = nullptr);

    /// The button's action; does nothing while the button is disabled.
    void login();

  signals:
    /// A sign-in attempt finished (after the form took its outcome).
    void loginFinished(bool succeeded);

  private:
    void syncForm();
    void updateState();

    AppContext& context_;
    LoginModel form_;
    QLineEdit* username_;
    QLineEdit* password_;
    QCheckBox* rememberMe_;
    QLabel* error_;
    QPushButton* button_;
    QProgressBar* busy_;
};

}  // namespace quillora
