#include "app/account_screens.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/notification_bridge.h"
#include "service/user_session.h"
#include "shell/profile.h"
#include "store/user_manager.h"

namespace quillora {

namespace {

QFrame* card(QLayout* inner) {
    auto* frame = new QFrame;
    frame->setObjectName("Card");
    frame->setLayout(inner);
    inner->setContentsMargins(20, 16, 20, 16);
    return frame;
}

QLabel* label(const QString& text, const char* style = nullptr) {
    auto* shown = new QLabel(text);
    if (style) shown->setObjectName(style);
    return shown;
}

QVBoxLayout* screenLayout(QWidget* screen) {
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(16);
    return layout;
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

ProfileScreen::ProfileScreen(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    auto* layout = screenLayout(this);
    loading_ = label("加载中...", "Secondary");
    layout->addWidget(loading_);

    content_ = new QWidget;
    auto* contentLayout = new QVBoxLayout(content_);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(16);

    auto* identity = new QHBoxLayout;
    auto* avatar = label("", nullptr);
    avatar->setFixedSize(56, 56);
    avatar->setAlignment(Qt::AlignCenter);
    avatar->setObjectName("avatar");
    avatar->setStyleSheet(
        "background: #2563eb; color: white; border-radius: 28px; font-size: 20pt; "
        "font-weight: 600;");
    name_ = label("", "Heading");
    name_->setObjectName("profileName");
    name_->setStyleSheet("font-size: 17pt; font-weight: 600;");
    auto* badge = label("高级会员");
    badge->setStyleSheet(
        "background: #fef3c7; color: #92400e; border-radius: 9px; padding: 2px 10px; "
        "font-weight: 600;");
    identity->addWidget(avatar);
    identity->addSpacing(8);
    identity->addWidget(name_);
    identity->addWidget(badge, 0, Qt::AlignVCenter);
    identity->addStretch();
    contentLayout->addLayout(identity);
    connect(this, &ProfileScreen::loaded, avatar,
            [this, avatar] { avatar->setText(name_->text().left(1).toUpper()); });

    auto* balanceLayout = new QVBoxLayout;
    balanceLayout->addWidget(label("预充值余额", "Secondary"));
    balance_ = label("");
    balance_->setObjectName("balance");
    balance_->setStyleSheet("font-size: 22pt; font-weight: 600; color: #16a34a;");
    balanceLayout->addWidget(balance_);
    auto* accountGrid = new QFormLayout;
    accountGrid->setHorizontalSpacing(24);
    phone_ = label("");
    phone_->setObjectName("phone");
    payType_ = label("");
    payType_->setObjectName("payType");
    accountGrid->addRow(label("手机号", "Secondary"), phone_);
    accountGrid->addRow(label("支付方式", "Secondary"), payType_);
    auto* accountRow = new QHBoxLayout;
    accountRow->addLayout(balanceLayout, 1);
    accountRow->addLayout(accountGrid, 1);
    contentLayout->addWidget(card(accountRow));

    auto* prices = new QGridLayout;
    prices->setVerticalSpacing(12);
    prices->addWidget(label("价格信息", "SectionTitle"), 0, 0, 1, 2);
    shijianzhou_ = label("");
    shijianzhou_->setObjectName("shijianzhouPrice");
    zimu_ = label("");
    zimu_->setObjectName("zimuPrice");
    const std::pair<const char*, QLabel*> rows[] = {
        {"高效时间轴", label(qt(ProfileDisplay::efficientTimelinePrice()))},
        {"精校时间轴", shijianzhou_},
        {"字幕制作", zimu_},
    };
    int row = 1;
    for (const auto& [title, value] : rows) {
        prices->addWidget(label(title), row, 0);
        value->setStyleSheet("font-weight: 600;");
        prices->addWidget(value, row, 1, Qt::AlignRight);
        ++row;
    }
    contentLayout->addWidget(card(prices));
    layout->addWidget(content_);
    layout->addStretch();
    content_->hide();
}

void ProfileScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    loadUserData();
}

void ProfileScreen::loadUserData() {
    loading_->show();
    UserAuthManager& auth = context_.auth;
    UserManager& users = context_.users;
    runInBackground(
        this, [&auth, &users] { return profileDisplay(auth.currentUser(), users.getUser()); },
        [this](const ProfileDisplay& display) {
            name_->setText(qt(display.srtusername));
            balance_->setText(qt(display.balanceText()));
            phone_->setText(qt(display.phone));
            payType_->setText(qt(display.payType));
            shijianzhou_->setText(qt(display.shijianzhouPrice()));
            zimu_->setText(qt(display.zimuPrice()));
            loading_->hide();
            content_->show();
            emit loaded();
        });
}

SettingsScreen::SettingsScreen(QWidget* parent) : QWidget(parent) {
    auto* layout = screenLayout(this);
    layout->addWidget(label("应用设置", "Heading"));

    auto* general = new QVBoxLayout;
    general->setSpacing(10);
    general->addWidget(label("常规设置", "SectionTitle"));
    const std::pair<const char*, bool> toggles[] = {
        {"自动保存", true}, {"启用通知", true}, {"深色模式", false}};
    for (const auto& [title, on] : toggles) {
        auto* toggle = new QCheckBox(title);
        toggle->setChecked(on);
        general->addWidget(toggle);
    }
    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(label("语言"));
    auto* language = new QComboBox;
    language->addItems({"中文", "English"});
    languageRow->addWidget(language);
    languageRow->addStretch();
    general->addLayout(languageRow);
    layout->addWidget(card(general));

    auto* database = new QVBoxLayout;
    database->addWidget(label("数据库", "SectionTitle"));
    auto* buttons = new QHBoxLayout;
    for (const char* title : {"清理缓存", "重置数据库"}) {
        auto* button = new QPushButton(title);
        // Neither action exists yet; a disabled button does not pretend otherwise.
        button->setEnabled(false);
        button->setToolTip("暂不可用");
        buttons->addWidget(button);
    }
    buttons->addStretch();
    database->addLayout(buttons);
    layout->addWidget(card(database));
    layout->addStretch();
}

UsersScreen::UsersScreen(AppContext& context, NotificationBridge& bridge, QWidget* parent)
    : QWidget(parent), context_(context) {
    auto* layout = screenLayout(this);
    layout->addWidget(label("用户管理", "Heading"));
    auto* lines = new QVBoxLayout;
    lines->setSpacing(10);
    user_ = label("");
    user_->setObjectName("currentUser");
    lastLogin_ = label("");
    lastLogin_->setObjectName("lastLogin");
    lines->addWidget(user_);
    lines->addWidget(lastLogin_);
    layout->addWidget(card(lines));
    layout->addStretch();
    connect(&bridge, &NotificationBridge::authChanged, this, &UsersScreen::refresh);
    refresh();
}

void UsersScreen::refresh() {
    user_->setText(qt(currentUserLine(context_.auth.currentUser())));
    lastLogin_->setText(qt(lastLoginLine(context_.auth.lastLoginTime())));
}

}  // namespace quillora
