#include <gtest/gtest.h>

#include <set>

#include "platform/console.h"
#include "platform/preferences.h"
#include "service/user_session.h"
#include "shell/app_router.h"
#include "shell/auth_gate.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "store/database_manager.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

struct SignIn {
    testing::TempHome home;
    Preferences preferences{home.configHome() / "prefs.json"};
    NotificationCenter notifications;
};

TEST(ShellNavigation, RouterGuardsSignedInRoutesAndListsOnlySidebarRoutes) {
    SignIn signIn;
    UserAuthManager auth(signIn.preferences, signIn.notifications);
    AppRouter router(auth);

    struct Case {
        const char* path;
        bool signedOut;
        bool signedIn;
    };
    const Case cases[] = {{"/settings", false, true}, {"/dashboard", false, true},
                          {"/login", true, true},     {"/", true, true},
                          {"/nowhere", false, false}, {"", false, false}};
    for (const Case& c : cases)
        EXPECT_EQ(router.canNavigateTo(c.path), c.signedOut) << c.path;
    signIn.notifications.post(notification::kUserDidLogin, "alice");
    for (const Case& c : cases)
        EXPECT_EQ(router.canNavigateTo(c.path), c.signedIn) << c.path;

    std::vector<std::string> listed;
    for (const AppRoute& route : router.sidebarRoutes())
        listed.push_back(route.path);
    EXPECT_EQ(listed, (std::vector<std::string>{"/", "/dashboard", "/settings", "/users"}));

    EXPECT_EQ(router.getCurrentRoute()->title, "主页");
    router.currentRoute = "/profile";
    EXPECT_FALSE(router.getCurrentRoute()) << "the profile is reached by the sidebar only";
}

TEST(ShellNavigation, SidebarScreensAndTitlesFollowTheSelectedRoute) {
    std::set<std::string_view> routes;
    std::vector<std::string_view> sections;
    for (const SidebarSection& section : sidebarSections()) {
        sections.push_back(section.title);
        for (const SidebarEntry& entry : section.entries) {
            EXPECT_EQ(screenForRoute(entry.route), entry.screen) << entry.label;
            routes.insert(entry.route);
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string_view>{"主要功能", "工具", "管理"}));
    EXPECT_EQ(routes.size(), 9u);

    struct Case {
        const char* route;
        Screen screen;
        const char* title;
    };
    const Case cases[] = {
        {"/encoding", Screen::converter, "转码"},
        {"/dashboard", Screen::dashboard, "视频扒字幕"},
        {"/srt-to-column", Screen::srtToColumns, "SRT转列显示文本"},
        {"/video-to-srt", Screen::videoToSrt, "视频扒字幕"},
        {"/kestrune-table", Screen::dataManagement, "砚篁数据表"},
        {"", Screen::dataManagement, "视频扒字幕"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(screenForRoute(c.route), c.screen) << c.route;
        EXPECT_EQ(navigationTitle(c.route), c.title) << c.route;
    }

    EXPECT_EQ(welcomeText("alice"), "欢迎: alice");
    EXPECT_EQ(welcomeText(std::nullopt), "欢迎: 用户");

    MainWindowState window;
    window.selectedRoute = "/profile";
    window.authenticationChanged(true);
    EXPECT_EQ(window.selectedRoute, "/profile");
    window.authenticationChanged(false);
    EXPECT_EQ(window.selectedRoute, "/dashboard") << "the next sign-in opens on the dashboard";
}

TEST(ShellNavigation, GateRestoresFromPreferencesFollowsSignInButNotSignOut) {
    SignIn signIn;
    AuthGate gate(signIn.preferences, signIn.notifications);
    int changes = 0;
    gate.setOnChange([&] { ++changes; });
    signIn.preferences.setText(preference::kCurrentUser, "");
    gate.checkAuthStatus();
    EXPECT_FALSE(gate.isAuthenticated()) << "an empty name is no sign-in";
    EXPECT_EQ(changes, 0);

    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
    signIn.preferences.setText(preference::kCurrentUser, "bob");
    signIn.preferences.setDate(preference::kLastLoginTime, when);
    gate.checkAuthStatus();
    EXPECT_TRUE(gate.isAuthenticated());
    EXPECT_EQ(gate.currentUser(), "bob");
    EXPECT_EQ(gate.lastLoginTime(), when);

    UserAuthManager auth(signIn.preferences, signIn.notifications);
    auth.logout();
    EXPECT_TRUE(gate.isAuthenticated()) << "the gate keeps its copy; the window shows the form";
    signIn.notifications.post(notification::kUserDidLogin, 42);
    EXPECT_EQ(gate.currentUser(), "bob") << "a non-text object is ignored";
    signIn.notifications.post(notification::kUserDidLogin, "carol");
    EXPECT_EQ(gate.currentUser(), "carol");
    EXPECT_NE(gate.lastLoginTime(), when);
    EXPECT_EQ(changes, 2);

    EXPECT_NE(loginInstructionText("http://example.test:8750").find("http://example.test:8750"),
              std::string::npos);
}

TEST(ShellNavigation, StartUpStartsThePollerOnlyWhenTheStoreOpens) {
    testing::TempDir dir;
    int pollerStarts = 0;
    {
        DatabaseManager store([&] { return dir.path(); });
        ConsoleCapture console;
        EXPECT_TRUE(startUp(store, [&] { ++pollerStarts; }));
        EXPECT_EQ(pollerStarts, 1);
        EXPECT_EQ(console.count("数据库初始化成功"), 2u) << "once by the store, once by start-up";
        EXPECT_TRUE(std::filesystem::exists(dir / DatabaseManager::databaseName));
    }

    testing::writeTestFile(dir / "blocked", "a file where the folder should be");
    DatabaseManager blocked([&] { return dir / "blocked"; });
    ConsoleCapture console;
    EXPECT_FALSE(startUp(blocked, [&] { ++pollerStarts; }));
    EXPECT_EQ(pollerStarts, 1);
    ASSERT_FALSE(console.lines().empty());
    EXPECT_EQ(console.lines().back().rfind("数据库初始化失败: ", 0), 0u);
}

}  // namespace
}  // namespace quillora
