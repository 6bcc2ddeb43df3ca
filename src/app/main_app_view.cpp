#include "app/main_app_view.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/account_screens.h"
#include "app/app_context.h"
#include "app/background.h"
#include "app/converter_screen.h"
#include "app/dashboard_screen.h"
#include "app/extraction_screen.h"
#include "app/line_counter_screen.h"
#include "app/login_view.h"
#include "app/notification_bridge.h"
#include "app/srt_to_columns_screen.h"
#include "app/srt_to_fcpxml_screen.h"
#include "app/theme.h"
#include "service/user_session.h"
#include "shell/startup.h"
#include "subtitles/columns.h"

namespace quillora {

namespace {

constexpr int kRouteRole = Qt::UserRole + 1;

QString qt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

}  // namespace

MainAppView::MainAppView(AppContext& context, NotificationBridge& bridge, QWidget* parent)
    : QWidget(parent), context_(context), bridge_(bridge) {
    stack_ = new QStackedWidget;
    auto* content = new QWidget;
    auto* split = new QHBoxLayout(content);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);

    auto* sidebarPane = new QWidget;
    sidebarPane->setObjectName("Sidebar");
    sidebarPane->setAttribute(Qt::WA_StyledBackground);
    sidebarPane->setFixedWidth(210);
    auto* sidebarLayout = new QVBoxLayout(sidebarPane);
    sidebarLayout->setContentsMargins(0, 16, 0, 12);
    auto* brand = new QLabel("Quillora");
    brand->setObjectName("SectionTitle");
    brand->setStyleSheet("font-size: 13pt; padding-left: 18px; padding-bottom: 8px;");
    sidebarLayout->addWidget(brand);
    sidebar_ = new QTreeWidget;
    sidebar_->setObjectName("SidebarList");
    sidebar_->setHeaderHidden(true);
    sidebar_->setRootIsDecorated(false);
    sidebar_->setIndentation(0);
    sidebar_->setFocusPolicy(Qt::StrongFocus);
    sidebar_->setIconSize(QSize(18, 18));
    for (const SidebarSection& section : sidebarSections()) {
        auto* heading = new QTreeWidgetItem(sidebar_, {qt(section.title)});
        heading->setFlags(Qt::ItemIsEnabled);
        QFont font = heading->font(0);
        font.setPointSizeF(8.5);
        font.setBold(true);
        heading->setFont(0, font);
        heading->setForeground(0, QColor(0x6b, 0x72, 0x80));
        heading->setSizeHint(0, QSize(0, 34));
        heading->setTextAlignment(0, Qt::AlignLeft | Qt::AlignBottom);
        for (const SidebarEntry& entry : section.entries) {
            auto* item = new QTreeWidgetItem(heading, {qt(entry.label)});
            item->setData(0, kRouteRole, qt(entry.route));
            item->setIcon(0, routeIcon(qt(entry.route)));
        }
    }
    sidebar_->expandAll();
    sidebar_->setItemsExpandable(false);
    sidebarLayout->addWidget(sidebar_, 1);
    split->addWidget(sidebarPane);

    auto* detail = new QWidget;
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    auto* header = new QWidget;
    header->setObjectName("HeaderBar");
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(24, 10, 16, 10);
    title_ = new QLabel;
    title_->setObjectName("ScreenTitle");
    welcome_ = new QLabel;
    welcome_->setObjectName("Secondary");
    logout_ = new QPushButton("退出登录");
    logout_->setObjectName("logout");
    headerLayout->addWidget(title_);
    headerLayout->addStretch();
    headerLayout->addWidget(welcome_);
    headerLayout->addSpacing(8);
    headerLayout->addWidget(logout_);
    detailLayout->addWidget(header);
    screens_ = new QStackedWidget;
    detailLayout->addWidget(screens_, 1);
    split->addWidget(detail, 1);
    stack_->addWidget(content);
    content_ = content;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);

    connect(sidebar_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item) return;
        const QString route = item->data(0, kRouteRole).toString();
        if (!route.isEmpty()) selectRoute(route.toStdString());
    });
    connect(logout_, &QPushButton::clicked, this, [this] { context_.auth.logout(); });
    connect(&bridge, &NotificationBridge::authChanged, this, &MainAppView::syncAuthentication);
    syncAuthentication();
}

bool MainAppView::showsLoginForm() const {
    return login_ && stack_->currentWidget() == login_;
}

void MainAppView::syncAuthentication() {
    const bool signedIn = context_.auth.isAuthenticated();
    welcome_->setText(QString::fromStdString(quillora::welcomeText(context_.auth.currentUser())));
    if (!signedIn) {
        state_.authenticationChanged(false);
        contentVisible_ = false;
        // Made when first needed: a restored sign-in never shows it.
        if (!login_) {
            login_ = new LoginView(context_);
            stack_->addWidget(login_);
        }
        stack_->setCurrentWidget(login_);
        return;
    }
    if (!contentVisible_) {
        contentVisible_ = true;
        stack_->setCurrentWidget(content_);
        state_.contentShown();
        if (!openedRoute_.empty()) state_.selectedRoute = std::exchange(openedRoute_, {});
        selectRoute(state_.selectedRoute);
    }
}

bool MainAppView::openFiles(const std::vector<std::filesystem::path>& files) {
    std::string route(MainWindowState::kHomeRoute);
    auto* dashboard = static_cast<DashboardScreen*>(screenFor(Screen::dashboard));
    if (!dashboard->takeFiles(files)) {
        // Editor documents go to the subtitle table tool, the screen that reads them.
        const auto document = std::find_if(files.begin(), files.end(), [](const auto& file) {
            const SubtitleFileKind kind = subtitleFileKind(file);
            return kind != SubtitleFileKind::srt && kind != SubtitleFileKind::unsupported;
        });
        if (document == files.end()) return false;
        static_cast<SrtToColumnsScreen*>(screenFor(Screen::srtToColumns))->openFile(*document);
        for (const auto& section : sidebarSections()) {
            for (const auto& entry : section.entries) {
                if (entry.screen == Screen::srtToColumns) route = entry.route;
            }
        }
    }
    if (contentVisible_) {
        selectRoute(route);
    } else {
        openedRoute_ = route;  // shown instead of home once signed in
    }
    return true;
}

void MainAppView::selectRoute(const std::string& route) {
    state_.selectedRoute = route;
    title_->setText(qt(navigationTitle(route)));
    screens_->setCurrentWidget(screenFor(screenForRoute(route)));
    // Keep the sidebar's highlight on the route, without re-entering selectRoute.
    QTreeWidgetItem* match = nullptr;
    for (int i = 0; i < sidebar_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* section = sidebar_->topLevelItem(i);
        for (int j = 0; j < section->childCount(); ++j) {
            if (section->child(j)->data(0, kRouteRole).toString().toStdString() == route) {
                match = section->child(j);
            }
        }
    }
    const QSignalBlocker blocker(sidebar_);
    sidebar_->setCurrentItem(match);
    if (!match) sidebar_->clearSelection();
}

QString MainAppView::title() const {
    return title_->text();
}

QString MainAppView::welcomeText() const {
    return welcome_->text();
}

QWidget* MainAppView::currentScreen() const {
    return screens_->currentWidget();
}

QWidget* MainAppView::screenFor(Screen screen) {
    if (const auto found = screenWidgets_.find(screen); found != screenWidgets_.end()) {
        return found->second;
    }
    QWidget* widget = nullptr;
    switch (screen) {
        case Screen::dashboard:
            widget = new DashboardScreen(context_, bridge_);
            break;
        case Screen::dataManagement:
            widget = new DataManagementScreen(context_, bridge_);
            break;
        case Screen::profile:
            widget = new ProfileScreen(context_);
            break;
        case Screen::settings:
            widget = new SettingsScreen;
            break;
        case Screen::users:
            widget = new UsersScreen(context_, bridge_);
            break;
        case Screen::converter:
            widget = new ConverterScreen(context_);
            break;
        case Screen::lineCounter:
            widget = new LineCounterScreen(context_);
            break;
        case Screen::srtToFcpxml:
            widget = new SrtToFcpxmlScreen(context_);
            break;
        case Screen::srtToColumns:
            widget = new SrtToColumnsScreen(context_);
            break;
        case Screen::videoToSrt:
            widget = new ExtractionScreen(context_);
            break;
    }
    screens_->addWidget(widget);
    screenWidgets_.emplace(screen, widget);
    return widget;
}

RootWindow::RootWindow(AppContext& context, NotificationBridge& bridge, QWidget* parent)
    : QMainWindow(parent),
      context_(context),
      gate_(std::make_unique<AuthGate>(context.preferences, context.notifications)) {
    setWindowTitle("Quillora");
    setMinimumSize(960, 620);
    resize(1240, 800);
    stack_ = new QStackedWidget;
    main_ = new MainAppView(context, bridge);
    stack_->addWidget(main_);
    setCentralWidget(stack_);
    gate_->setOnChange([this] { postToGui(this, [this] { syncGate(); }); });
}

RootWindow::~RootWindow() {
    gate_->setOnChange({});
}

bool RootWindow::showsMainView() const {
    return stack_->currentWidget() == main_;
}

void RootWindow::syncGate() {
    if (gate_->isAuthenticated()) {
        stack_->setCurrentWidget(main_);
        return;
    }
    if (!login_) {
        login_ = new LoginView(context_);
        stack_->addWidget(login_);
    }
    stack_->setCurrentWidget(login_);
}

void RootWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    gate_->checkAuthStatus();
    syncGate();
    DatabaseManager& database = context_.database;
    const std::function<void()> startPoller = context_.startPoller;
    runInBackground(
        this, [&database, startPoller] { return startUp(database, startPoller); },
        [this](bool opened) { emit startUpFinished(opened); });
}

}  // namespace quillora
