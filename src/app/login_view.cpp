#include "app/login_view.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/theme.h"
#include "shell/auth_gate.h"

namespace quillora {

namespace {

/// The product mark at a fixed size.
class LogoMark : public QWidget {
  public:
    explicit LogoMark(int size, QWidget* parent = nullptr) : QWidget(parent) {
        setFixedSize(size, size);
        setObjectName("logo");
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintLogo(painter, rect());
    }
};

QLabel* fieldLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName("SectionTitle");
    return label;
}

}  // namespace

LoginView::LoginView(AppContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      form_(context.network, context.users, context.preferences, context.notifications) {
    auto* card = new QFrame;
    card->setObjectName("Card");
    card->setFixedWidth(420);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(36, 32, 36, 28);
    layout->setSpacing(10);

    auto* logo = new LogoMark(72);
    layout->addWidget(logo, 0, Qt::AlignHCenter);
    auto* name = new QLabel("Quillora");
    name->setObjectName("Heading");
    layout->addWidget(name, 0, Qt::AlignHCenter);
    auto* prompt = new QLabel("请登录以继续");
    prompt->setObjectName("Secondary");
    layout->addWidget(prompt, 0, Qt::AlignHCenter);
    auto* instruction =
        new QLabel(QString::fromStdString(loginInstructionText(context.platformAddress)));
    instruction->setObjectName("Secondary");
    instruction->setWordWrap(true);
    instruction->setAlignment(Qt::AlignCenter);
    instruction->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(instruction);
    layout->addSpacing(8);

    layout->addWidget(fieldLabel("用户名"));
    username_ = new QLineEdit;
    username_->setObjectName("username");
    username_->setPlaceholderText("请输入用户名");
    layout->addWidget(username_);
    layout->addWidget(fieldLabel("密码"));
    password_ = new QLineEdit;
    password_->setObjectName("password");
    password_->setPlaceholderText("请输入密码");
    password_->setEchoMode(QLineEdit::Password);
    layout->addWidget(password_);

    rememberMe_ = new QCheckBox("记住我");
    rememberMe_->setObjectName("rememberMe");
    layout->addWidget(rememberMe_);

    error_ = new QLabel;
    error_->setObjectName("ErrorText");
    error_->setWordWrap(true);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    error_->hide();
    layout->addWidget(error_);

    button_ = new QPushButton("登录");
    button_->setObjectName("PrimaryButton");
    button_->setMinimumHeight(38);
    button_->setDefault(true);
    layout->addWidget(button_);
    busy_ = new QProgressBar;
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setFixedHeight(4);
    busy_->hide();
    layout->addWidget(busy_);

    auto* version = new QLabel("版本 1.0.0");
    version->setObjectName("Secondary");
    layout->addWidget(version, 0, Qt::AlignHCenter);

    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    outer->addWidget(card, 0, Qt::AlignHCenter);
    outer->addStretch(1);

    setTabOrder(username_, password_);
    setTabOrder(password_, rememberMe_);
    setTabOrder(rememberMe_, button_);
    setFocusProxy(username_);

    connect(username_, &QLineEdit::textChanged, this, [this] { updateState(); });
    connect(password_, &QLineEdit::textChanged, this, [this] { updateState(); });
    connect(username_, &QLineEdit::returnPressed, this, [this] { login(); });
    connect(password_, &QLineEdit::returnPressed, this, [this] { login(); });
    connect(button_, &QPushButton::clicked, this, [this] { login(); });
    updateState();
}

void LoginView::syncForm() {
    form_.username = username_->text().toStdString();
    form_.password = password_->text().toStdString();
    form_.rememberMe = rememberMe_->isChecked();
}

void LoginView::updateState() {
    syncForm();
    button_->setEnabled(form_.canSubmit());
    button_->setText(form_.isLoading ? "登录中..." : "登录");
    busy_->setVisible(form_.isLoading);
    error_->setVisible(form_.showError);
    error_->setText("⚠ " + QString::fromStdString(form_.errorMessage));
}

void LoginView::login() {
    syncForm();
    if (!form_.canSubmit()) return;
    form_.errorMessage.clear();
    form_.showError = false;
    form_.isLoading = true;
    updateState();
    LoginModel attempt = form_;
    runInBackground(
        this,
        [attempt]() mutable {
            attempt.performSRTLogin();
            return attempt;
        },
        [this](const LoginModel& outcome) {
            form_.errorMessage = outcome.errorMessage;
            form_.showError = outcome.showError;
            form_.isLoading = false;
            updateState();
            emit loginFinished(!outcome.showError);
        });
}

}  // namespace quillora
