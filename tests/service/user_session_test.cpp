#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/preferences.h"
#include "service/client_fixture.h"
#include "service/stub_server.h"
#include "service/user_session.h"

namespace quillora {
namespace {
using testing::Client;
using testing::StubServer;
using testing::TestPlatform;

struct Session {
    Client client;
    Preferences preferences{client.home.configHome() / "quillora" / "preferences.json"};
    NotificationCenter notifications;
    UserAuthManager manager{preferences, notifications};
    LoginModel form{client.service, client.users, preferences, notifications};
    explicit Session(const std::string& url) : client(url) {}
};

TEST(ServiceSession, RestoresTheSignInFromThePreferencesOnlyAndSignsOut) {
    testing::TempHome home;
    Preferences preferences(home.configHome() / "prefs.json");
    NotificationCenter notifications;
    EXPECT_FALSE(UserAuthManager(preferences, notifications).isAuthenticated());
    preferences.setText(preference::kCurrentUser, "");
    EXPECT_FALSE(UserAuthManager(preferences, notifications).isAuthenticated());
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
    preferences.setText(preference::kCurrentUser, "alice");
    preferences.setDate(preference::kLastLoginTime, when);
    preferences.setBool(preference::kRememberMe, true);
    UserAuthManager manager(preferences, notifications);
    EXPECT_TRUE(manager.isAuthenticated());
    EXPECT_EQ(manager.currentUser(), "alice");
    EXPECT_EQ(manager.lastLoginTime(), when);

    // Signing out removes the keys but keeps the user record.
    UserManager users(home.path() / "users.db");
    users.saveUser(UserData{7, {}, {}, {}, {}, {}, {}});
    UserAuthManager otherObserver(preferences, notifications);
    int logouts = 0;
    notifications.subscribe(notification::kUserDidLogout, [&](const auto&) { ++logouts; });
    manager.logout();
    EXPECT_FALSE(manager.isAuthenticated() || manager.currentUser());
    EXPECT_FALSE(otherObserver.isAuthenticated()) << "every holder follows userDidLogout";
    EXPECT_EQ(logouts, 1);
    EXPECT_FALSE(preferences.text(preference::kCurrentUser));
    EXPECT_FALSE(preferences.date(preference::kLastLoginTime));
    EXPECT_FALSE(preferences.boolean(preference::kRememberMe));
    EXPECT_TRUE(users.getUser());
}

TEST(ServiceSession, SuccessfulSignInWritesPreferencesSavesTheUserAndNotifies) {
    TestPlatform platform;
    const auto added = platform.accounts().addAccount(testing::aliceAccount("pw", 12.5));
    Session session(platform.baseURL());
    int changes = 0;
    session.manager.setOnChange([&] { ++changes; });
    session.form.username = "alice";
    session.form.password = "pw";
    session.form.rememberMe = true;
    ConsoleCapture console;
    session.form.login();

    EXPECT_FALSE(session.form.isLoading || session.form.showError);
    EXPECT_EQ(session.preferences.text(preference::kCurrentUser), "alice");
    EXPECT_TRUE(session.preferences.date(preference::kLastLoginTime));
    EXPECT_EQ(session.preferences.boolean(preference::kRememberMe), true);
    EXPECT_EQ(session.client.users.getUser(),
              (UserData{added.id, 12.5, "13900000001", 2.5, 1.5, 1, "pw"}));
    EXPECT_TRUE(session.manager.isAuthenticated());
    EXPECT_EQ(session.manager.currentUser(), "alice");
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(console.contains("✅ 用户信息保存到数据库成功"));
    EXPECT_TRUE(console.contains("✅ SRT登录成功: 13900000001"));
}

TEST(ServiceSession, FailedSignInShowsTheMessageAndWritesNothingUntilARetrySucceeds) {
    StubServer stub;
    Session session(stub.baseURL());
    EXPECT_FALSE(session.form.canSubmit());
    session.form.username = "u";
    EXPECT_FALSE(session.form.canSubmit()) << "needs the password too";
    session.form.password = "p";
    session.form.isLoading = true;
    EXPECT_FALSE(session.form.canSubmit()) << "not while loading";
    session.form.isLoading = false;

    struct Case {
        int status;
        const char* body;
        const char* message;      ///< the start of the form's error message
        const char* consoleLine;  ///< the start of the last console line
    };
    const Case cases[] = {
        {200, R"({"success":false,"msg":"用户名或密码错误"})", "用户名或密码错误",
         "❌ SRT登录失败: 用户名或密码错误"},
        {200, R"({"success":false})", "登录失败", "❌ SRT登录失败: 登录失败"},
        {503, "busy", "网络错误: ", "❌ 登录异常: "},
    };
    for (const Case& c : cases) {
        stub.reply(c.status, c.body, "application/json");
        ConsoleCapture console;
        session.form.login();
        EXPECT_EQ(session.form.errorMessage.rfind(c.message, 0), 0u) << session.form.errorMessage;
        ASSERT_FALSE(console.lines().empty());
        EXPECT_EQ(console.lines().back().rfind(c.consoleLine, 0), 0u) << console.lines().back();
        EXPECT_TRUE(session.form.showError);
        EXPECT_FALSE(session.form.isLoading);
        EXPECT_TRUE(session.form.canSubmit()) << "the form stays filled for a retry";
        EXPECT_FALSE(session.preferences.text(preference::kCurrentUser));
        EXPECT_FALSE(session.preferences.date(preference::kLastLoginTime));
        EXPECT_FALSE(session.manager.isAuthenticated());
    }

    // A reply without a user record still signs in, and stores no user.
    stub.reply(200, R"({"success":true})");
    ConsoleCapture console;
    session.form.login();
    EXPECT_FALSE(session.form.showError);
    EXPECT_EQ(session.preferences.text(preference::kCurrentUser), "u");
    EXPECT_FALSE(session.preferences.boolean(preference::kRememberMe)) << "box not ticked";
    EXPECT_TRUE(session.manager.isAuthenticated());
    EXPECT_FALSE(session.client.users.getUser());
    EXPECT_FALSE(console.contains("✅ 用户信息保存到数据库成功"));
    EXPECT_TRUE(console.contains("✅ SRT登录成功: 未知用户"));
}

}  // namespace
}  // namespace quillora
