#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <future>
#include <thread>

#include "app/account_screens.h"
#include "app/app_context.h"
#include "app/dashboard_screen.h"
#include "app/login_view.h"
#include "app/main_app_view.h"
#include "app/notification_bridge.h"
#include "app/srt_to_columns_screen.h"
#include "app/task_table.h"
#include "app/theme.h"
#include "app_fixture.h"
#include "pipeline/task_processor.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "platform/preferences.h"
#include "service/network_service.h"
#include "service/user_session.h"
#include "store/database_manager.h"
#include "store/user_manager.h"
#include "support/temp_home.h"

namespace quillora {

namespace fs = std::filesystem;
using testing::AppEnvironment;

class AppTest : public QObject {
    Q_OBJECT

  private:
    AppContext* context_ = nullptr;
    NotificationBridge* bridge_ = nullptr;
    testing::RecordingDesktop& desktop_ = AppEnvironment::get().desktop;
    testing::TestPlatform& platform_ = AppEnvironment::get().platform;

    void signIn(LoginView* form, const QString& user, const QString& password) {
        auto* name = form->findChild<QLineEdit*>("username");
        auto* secret = form->findChild<QLineEdit*>("password");
        name->clear();
        secret->clear();
        QTest::keyClicks(name, user);
        QTest::keyClicks(secret, password);
        QTest::keyClick(secret, Qt::Key_Return);
    }

    /// A task submitted `age` seconds ago.
    std::int64_t insertTask(const fs::path& movie, const std::string& status, int age = 0) {
        KestruneItem item = KestruneItem::newTask(movie.string() + ".txt", movie.string());
        item.submitDate -= std::chrono::seconds(age);
        item.status = status;
        item.srt = "1\n00:00:01,000 --> 00:00:02,000\n你好\n\n";
        return context_->database.insertItem(item);
    }

  private slots:
    void initTestCase() {
        context_ = AppEnvironment::get().context.get();
        bridge_ = AppEnvironment::get().bridge.get();
    }

    void signInSignOutAndRestore() {
        QCOMPARE(context_->auth.isAuthenticated(), false);
        auto window = std::make_unique<RootWindow>(*context_, *bridge_);
        QSignalSpy started(window.get(), &RootWindow::startUpFinished);
        window->show();
        QVERIFY(started.wait(10000));
        QCOMPARE(started.front().front().toBool(), true);
        QVERIFY(!window->showsMainView());

        LoginView* form = window->gateLoginView();
        auto* button = form->findChild<QPushButton*>("PrimaryButton");
        QVERIFY(!button->isEnabled());
        QSignalSpy finished(form, &LoginView::loginFinished);
        signIn(form, "alice", "wrong");
        QVERIFY2(!button->isEnabled(), "disabled while the request runs");
        QVERIFY(finished.wait(10000));
        auto* error = form->findChild<QLabel*>("ErrorText");
        QVERIFY(error->isVisible());
        QVERIFY(error->text().contains("用户名或密码错误"));
        QVERIFY(button->isEnabled());
        QVERIFY(!window->showsMainView());

        form->findChild<QCheckBox*>("rememberMe")->setChecked(true);
        signIn(form, "alice", "secret");
        QTRY_VERIFY_WITH_TIMEOUT(window->showsMainView(), 10000);
        MainAppView* main = window->mainView();
        QTRY_VERIFY(!main->showsLoginForm());
        QCOMPARE(main->selectedRoute(), std::string("/dashboard"));
        QCOMPARE(main->title(), QString("视频扒字幕"));
        QCOMPARE(main->welcomeText(), QString("欢迎: alice"));
        QCOMPARE(context_->preferences.boolean(preference::kRememberMe), true);

        // Signing out shows the form; the next sign-in opens on the dashboard again.
        main->selectRoute("/profile");
        QCOMPARE(main->title(), QString("个人资料"));
        QTest::mouseClick(main->logoutButton(), Qt::LeftButton);
        QTRY_VERIFY(main->showsLoginForm());
        QVERIFY(!context_->preferences.text(preference::kCurrentUser));
        QVERIFY2(context_->users.getUser().has_value(), "the stored user stays");
        signIn(main->loginView(), "alice", "secret");
        QTRY_VERIFY_WITH_TIMEOUT(!main->showsLoginForm(), 10000);
        QCOMPARE(main->selectedRoute(), std::string("/dashboard"));

        // A new window restores the sign-in from the preferences without asking.
        window.reset();
        RootWindow restored(*context_, *bridge_);
        restored.show();
        QVERIFY(restored.showsMainView());
        QVERIFY(!restored.mainView()->showsLoginForm());

        // The profile shows the stored user with the phone masked.
        restored.mainView()->selectRoute("/profile");
        auto* profile = qobject_cast<ProfileScreen*>(restored.mainView()->currentScreen());
        QVERIFY(profile);
        QTRY_COMPARE(profile->findChild<QLabel*>("phone")->text(), QString("139****0001"));
        QCOMPARE(profile->findChild<QLabel*>("balance")->text(), QString("¥30.00"));
        QCOMPARE(profile->findChild<QLabel*>("payType")->text(), QString("微信支付"));
        QCOMPARE(profile->findChild<QLabel*>("zimuPrice")->text(), QString("2.5元/分钟"));

        restored.mainView()->selectRoute("/encoding");
        QCOMPARE(restored.mainView()->title(), QString("转码"));

        // Files opened from the file manager land on the dashboard as a drop would put them.
        testing::TempDir files;
        testing::writeTestFile(files / "talk.srt", "1\n00:00:01,000 --> 00:00:02,000\n你好\n");
        testing::writeTestFile(files / "talk.mov", "not really a video");
        QVERIFY(!restored.mainView()->openFiles({files / "notes.pdf"}));
        QCOMPARE(restored.mainView()->selectedRoute(), std::string("/encoding"));
        QVERIFY(restored.mainView()->openFiles({files / "notes.pdf", files / "cut.fcpxml"}));
        QCOMPARE(restored.mainView()->selectedRoute(), std::string("/srt-to-column"));
        QVERIFY(qobject_cast<SrtToColumnsScreen*>(restored.mainView()->currentScreen()));
        QVERIFY(restored.mainView()->openFiles({files / "talk.mov", files / "talk.srt"}));
        QCOMPARE(restored.mainView()->selectedRoute(), std::string("/dashboard"));
        auto* dashboard = qobject_cast<DashboardScreen*>(restored.mainView()->currentScreen());
        QVERIFY(dashboard);
        QCOMPARE(dashboard->form().selectedTextFilePath, (files / "talk.srt").string());
        QCOMPARE(dashboard->form().selectedMediaFilePath, (files / "talk.mov").string());
    }

    void dashboardAddsTasksAndFollowsTheStore() {
        context_->database.deleteAllItems();
        DashboardScreen screen(*context_, *bridge_);
        screen.resize(1100, 700);
        screen.show();
        TaskTable* table = screen.table();
        QSignalSpy loaded(table, &TaskTable::loaded);
        QTRY_VERIFY(loaded.count() > 0);
        QCOMPARE(table->view()->model()->rowCount(), 0);

        // Dropping a script and its recording fills both paths. The recording is 31 s of
        // silence: one charged minute.
        testing::TempDir files;
        testing::writeTestFile(files / "talk.txt", "第一行\n第二行\n");
        QVERIFY(
            testing::runCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                "anullsrc=r=8000:cl=mono -t 31 '" +
                                (files / "talk.wav").string() + "'"));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString((files / "talk.txt").string()))});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // Straight to the screen: the application routes drops only during a real drag.
        static_cast<QObject*>(&screen)->event(&drop);
        QCOMPARE(screen.form().selectedTextFilePath, (files / "talk.txt").string());
        QCOMPARE(screen.form().selectedMediaFilePath, (files / "talk.wav").string());

        // The added task runs on the processor against the platform; its row follows every
        // status through the live reload up to the started server task.
        const double balance = platform_.accounts().findByName("alice")->balance;
        auto* add = screen.findChild<QPushButton*>("PrimaryButton");
        QVERIFY(add->isEnabled());
        QTest::mouseClick(add, Qt::LeftButton);
        QTRY_COMPARE(table->view()->model()->rowCount(), 1);
        QCOMPARE(screen.form().resultText, std::string("成功添加一条新任务！"));
        QVERIFY(screen.form().selectedTextFilePath.empty());
        const QModelIndex status = table->view()->model()->index(0, 6);
        QTRY_VERIFY_WITH_TIMEOUT(
            context_->processor.taskQueue().actor.waitUntilIdleFor(std::chrono::milliseconds(0)),
            30000);
        QTRY_COMPARE(status.data().toString(), QString("处理中"));
        QTRY_COMPARE(status.data(TaskTableModel::kProgressRole).toDouble(), 0.75);
        QCOMPARE(table->view()->model()->index(0, 7).data().toString(), QString("2"));
        QCOMPARE(platform_.accounts().findByName("alice")->balance, balance - 1);

        // A burst of progress writes from another thread reaches the table through the
        // notifications, as the pipeline posts them.
        const std::int64_t id = table->items()[0].id;
        std::thread writer([&] {
            for (int step = 1; step <= 50; ++step) {
                const double progress = 0.75 + step / 200.0;
                context_->database.updateProgressById(id, progress);
                context_->notifications.post(notification::kTaskUpdated,
                                             {{"id", id}, {"progress", progress}});
            }
        });
        writer.join();
        QTRY_COMPARE(status.data(TaskTableModel::kProgressRole).toDouble(), 1.0);

        // The Delete key removes the selected rows from the table and the store; a deleted
        // task still waiting for the processor is never uploaded or charged.
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        context_->processor.taskQueue().enqueue([released](std::stop_token) { released.wait(); });
        QDropEvent again(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        static_cast<QObject*>(&screen)->event(&again);
        QTest::mouseClick(add, Qt::LeftButton);
        QTRY_VERIFY(screen.form().selectedTextFilePath.empty());
        insertTask(files / "b.mp4", status::kPending, 60);
        insertTask(files / "c.mp4", status::kPending, 120);
        context_->notifications.post(notification::kDatabaseUpdated);
        QTRY_COMPARE(table->view()->model()->rowCount(), 4);
        QCOMPARE(table->items()[1].id, id);
        table->selectIds({table->items()[0].id, table->items()[3].id});
        QTest::keyClick(table->view(), Qt::Key_Delete);
        QTRY_COMPARE(table->view()->model()->rowCount(), 2);
        release.set_value();
        context_->processor.taskQueue().actor.waitUntilIdle();
        QCOMPARE(context_->database.getAllItems().size(), std::size_t{2});
        QVERIFY(table->selectedIds().empty());
        QCOMPARE(platform_.accounts().findByName("alice")->balance, balance - 1);
    }

    void rowMenuHandsFinishedTasksToTheDesktop() {
        context_->database.deleteAllItems();
        testing::TempDir files;
        const std::int64_t pending = insertTask(files / "later.mov", status::kPending, 60);
        const std::int64_t finished = insertTask(files / "done.mp4", status::kSucceeded);
        TaskTable table(*context_);
        table.show();
        QSignalSpy loaded(&table, &TaskTable::loaded);
        QTRY_VERIFY(loaded.count() > 0);
        table.selectIds({pending, finished});

        const auto trigger = [&](const QString& entry) {
            std::unique_ptr<QMenu> menu(table.buildContextMenu({}, &table));
            QAction* action = testing::findAction(menu.get(), entry);
            QVERIFY2(action, qPrintable(entry));
            action->trigger();
        };
        // Newest first: the finished task leads, the pending one ends the walk.
        trigger("显示SRT路径");
        QTRY_COMPARE(desktop_.calls, QStringList{"reveal done.srt"});
        QCOMPARE(readFile(files / "done.srt"),
                 std::string("1\n00:00:01,000 --> 00:00:02,000\n你好\n\n"));
        QVERIFY(!fs::exists(files / "later.srt"));

        desktop_.calls.clear();
        trigger("3. 25fps 4K");
        QTRY_COMPARE(desktop_.calls, (QStringList{"alert", "reveal done.xml"}));
        QVERIFY(readFile(files / "done.xml").find("<width>3840</width>") != std::string::npos);

        desktop_.calls.clear();
        trigger("使用Final cut pro 打开srt");
        QTRY_COMPARE(desktop_.calls, QStringList{"open done.fcpxml"});

        desktop_.calls.clear();
        table.selectIds({pending});
        trigger("显示SRT路径");
        QTest::qWait(200);
        QVERIFY(desktop_.calls.isEmpty());
    }
};

QObject* makeAppTest() {
    return new AppTest;
}

}  // namespace quillora

#include "app_test.moc"
