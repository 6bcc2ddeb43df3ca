// Renders each main screen offscreen to PNG for the README: `app_screenshots OUTPUT_DIR`.
// Runs against an in-process reference server and a task store in a temporary home.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <iostream>

#include "app/app_context.h"
#include "app/converter_screen.h"
#include "app/dashboard_screen.h"
#include "app/dialogs.h"
#include "app/extraction_screen.h"
#include "app/line_counter_screen.h"
#include "app/main_app_view.h"
#include "app/notification_bridge.h"
#include "app/srt_to_columns_screen.h"
#include "app/srt_to_fcpxml_screen.h"
#include "app/task_table.h"
#include "app/theme.h"
#include "extraction/test_videos.h"
#include "pipeline/task_processor.h"
#include "platform/notifications.h"
#include "platform/preferences.h"
#include "server/test_platform.h"
#include "service/network_service.h"
#include "service/user_session.h"
#include "store/database_manager.h"
#include "store/user_manager.h"
#include "support/temp_home.h"

using namespace quillora;

namespace {

/// Qt's dialogs, but alerts (the extraction's completion) do not wait for a person.
struct QuietDialogs : SystemDialogs {
    void alert(QWidget*, const QString&, const QString&) override {}
};

void addTask(DatabaseManager& database, const char* media, const char* script, const char* state,
             double progress, double minutes, int age, const char* lines) {
    KestruneItem item = KestruneItem::newTask(std::string("/home/studio/项目/") + script,
                                              std::string("/home/studio/项目/") + media);
    item.status = state;
    item.progress = progress;
    item.duration = minutes;
    item.textlost = lines;
    item.submitDate -= std::chrono::minutes(age);
    database.insertItem(item);
}

void save(QWidget& window, const QDir& folder, const QString& name) {
    QTest::qWait(150);
    const QString file = folder.filePath(name + ".png");
    if (!window.grab().save(file)) {
        std::cerr << "cannot write " << file.toStdString() << "\n";
        std::exit(1);
    }
    std::cout << file.toStdString() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: app_screenshots OUTPUT_DIR\n";
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    applyTheme(application);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());

    testing::TempHome home;
    testing::TestPlatform platform;
    server::NewAccount account = testing::aliceAccount("demo1234", 86.5);
    account.name = "demo";
    platform.accounts().addAccount(account);
    qputenv("QUILLORA_API_URL", QByteArray::fromStdString(platform.baseURL()));
    qputenv("QUILLORA_TASK_URL", QByteArray::fromStdString(platform.baseURL()));

    static QuietDialogs dialogs;
    AppContext context = AppContext::withSharedServices(
        dialogs, [] {}, "http://127.0.0.1:8750");
    NotificationBridge bridge(context.notifications);
    bridge.watch(context.auth);

    {
        RootWindow window(context, bridge);
        window.resize(1240, 800);
        window.show();
        save(window, folder, "login");
    }

    LoginModel form(context.network, context.users, context.preferences, context.notifications);
    form.username = "demo";
    form.password = "demo1234";
    form.login();
    DatabaseManager& database = context.database;
    addTask(database, "第一集_访谈.mp4", "第一集_访谈.docx", "处理成功", 1, 42, 300, "318");
    addTask(database, "产品发布会.mov", "产品发布会.txt", "处理成功", 1, 18, 200, "126");
    addTask(database, "纪录片_第二章.mp4", "纪录片_第二章.rtf", "支付失败", 0, 27, 120, "204");
    addTask(database, "播客_第12期.mp3", "播客_第12期.txt", "处理中", 0.75, 56, 40, "412");
    addTask(database, "课程_第三讲.mp4", "课程_第三讲.srt", "处理中", 0.62, 35, 10, "265");
    addTask(database, "采访素材_B机位.mov", "采访素材_B机位.txt", "待处理", 0, 0, 1, "0");

    RootWindow window(context, bridge);
    window.resize(1240, 800);
    window.show();
    QTest::qWait(400);
    if (auto* dashboard = qobject_cast<DashboardScreen*>(window.mainView()->currentScreen())) {
        // One ticked row, as a user picks a task for its row menu.
        for (const KestruneItem& item : dashboard->table()->items()) {
            if (item.status == "处理成功") {
                dashboard->table()->selectIds({item.id});
                break;
            }
        }
    }
    save(window, folder, "dashboard");
    const std::pair<const char*, const char*> screens[] = {
        {"/profile", "profile"}, {"/settings", "settings"}, {"/users", "users"}};
    for (const auto& [route, name] : screens) {
        window.mainView()->selectRoute(route);
        QTest::qWait(300);
        save(window, folder, name);
    }

    // The tool screens, each with a small sample open.
    const std::filesystem::path samples = home.path() / "samples";
    const std::string srt =
        "1\n00:00:01,200 --> 00:00:03,500\n大家好，欢迎收听本期节目\n\n"
        "2\n00:00:03,800 --> 00:00:06,100\n今天我们聊聊字幕制作的流程\n\n"
        "3\n00:00:06,400 --> 00:00:09,000\n先从文稿整理开始\n\n";
    testing::writeTestFile(samples / "第一集.srt", srt);
    testing::writeTestFile(
        samples / "第一集.txt",
        "大家好，欢迎收听本期节目\n今天我们聊聊字幕制作的流程，从文稿整理到时间轴\n"
        "\n先从文稿整理开始\n");
    testing::writeTestFile(samples / "访谈提纲.txt", "第一部分\n第二部分\n");

    const auto show = [&](const char* route) {
        window.mainView()->selectRoute(route);
        QTest::qWait(100);
        return window.mainView()->currentScreen();
    };
    if (auto* screen = qobject_cast<SrtToFcpxmlScreen*>(show("/srt-to-fcp"))) {
        screen->findChild<QPlainTextEdit*>("srtText")->setPlainText(QString::fromStdString(srt));
        QSignalSpy finished(screen, &SrtToFcpxmlScreen::finished);
        screen->convert();
        finished.wait(10000);
    }
    save(window, folder, "srt-to-fcpxml");
    if (auto* screen = qobject_cast<SrtToColumnsScreen*>(show("/srt-to-column"))) {
        QSignalSpy loaded(screen, &SrtToColumnsScreen::loaded);
        screen->openFile(samples / "第一集.srt");
        loaded.wait(10000);
    }
    save(window, folder, "srt-to-columns");
    if (auto* screen = qobject_cast<LineCounterScreen*>(show("/txt-counter"))) {
        QSignalSpy loaded(screen, &LineCounterScreen::loaded);
        screen->loadFile(samples / "第一集.txt");
        loaded.wait(10000);
    }
    save(window, folder, "line-counter");
    if (auto* screen = qobject_cast<ConverterScreen*>(show("/encoding"))) {
        screen->setOutputFormat(OutputFormat::doc);
        screen->addFiles({samples / "第一集.txt", samples / "访谈提纲.txt"});
        QTest::qWait(200);
    }
    save(window, folder, "converter");
    if (auto* screen = qobject_cast<ExtractionScreen*>(show("/video-to-srt"))) {
        const std::filesystem::path video = samples / "访谈片段.mp4";
        if (testing::makeSubtitledVideo(video, 4, {{0.5, 3.5, "欢迎收听本期节目"}})) {
            QSignalSpy frames(screen, &ExtractionScreen::frameShown);
            screen->pickVideos({video});
            frames.wait(10000);
            // Half-way through, as a user moving the position slider.
            screen->findChild<QSlider*>()->setValue(500);
            frames.wait(10000);
            QSignalSpy ended(screen, &ExtractionScreen::batchEnded);
            screen->start();
            ended.wait(120000);
        }
    }
    save(window, folder, "extraction");
    return 0;
}
