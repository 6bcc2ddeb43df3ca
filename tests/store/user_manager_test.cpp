#include "store/user_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/console.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

UserData fullUser(std::int64_t id) {
    return UserData{id, 88.5, "13800000000", 1.5, 2.5, 1, "secret"};
}

TEST(UserStore, SavingTwiceKeepsOnlyTheSecondUserAndFileIsPrivate) {
    testing::TempDir dir;
    ConsoleCapture capture;
    UserManager store(dir / "kestrunepublic.db");
    EXPECT_TRUE(capture.contains("用户表创建成功"));
    store.saveUser(fullUser(1));
    store.saveUser(fullUser(2));
    EXPECT_EQ(capture.count("用户信息保存成功"), 2u);
    EXPECT_EQ(store.getUser(), fullUser(2));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "kestrunepublic.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(UserStore, ZeroAndMissingFieldsReadBackAbsent) {
    testing::TempDir dir;
    UserManager store(dir / "kestrunepublic.db");
    ConsoleCapture capture;
    EXPECT_EQ(store.getUser(), std::nullopt);
    EXPECT_TRUE(capture.contains("没有找到用户信息"));

    store.saveUser(UserData{0, 0.0, std::nullopt, 0.0, 0.0, 0, "pw"});
    const auto user = store.getUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(*user, (UserData{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt, "pw"}));
}

TEST(UserStore, BalanceUpdateKeepsTheRestAndDoesNothingWithoutAUser) {
    testing::TempDir dir;
    UserManager store(dir / "kestrunepublic.db");
    ConsoleCapture capture;
    store.updatePreamount(3);
    EXPECT_TRUE(capture.contains("更新preamount成功"));
    EXPECT_EQ(store.getUser(), std::nullopt);

    store.saveUser(fullUser(5));
    store.updatePreamount(12.5);
    UserData expected = fullUser(5);
    expected.preamount = 12.5;
    EXPECT_EQ(store.getUser(), expected);
}

TEST(UserStore, FailedSaveKeepsTheUserStoredBefore) {
    testing::TempDir dir;
    {
        // A table that refuses user 13, so that the insert fails after the delete ran.
        SqliteConnection db = openPrivateDatabase(dir / "kestrunepublic.db");
        ASSERT_EQ(executeSql(db.get(),
                             "CREATE TABLE user (userid INTEGER CHECK (userid <> 13), preamount "
                             "REAL, phone TEXT, zimu REAL, shijianzhou REAL, paytype INTEGER, "
                             "srtPassword TEXT, updated_at TEXT);"),
                  std::nullopt);
    }
    UserManager store(dir / "kestrunepublic.db");
    store.saveUser(fullUser(1));
    ConsoleCapture capture;
    store.saveUser(fullUser(13));
    EXPECT_TRUE(capture.contains("用户信息保存失败"));
    EXPECT_EQ(store.getUser(), fullUser(1));
}

TEST(UserStore, UnopenableFileReportsOnEveryOperationWithoutThrowing) {
    testing::TempDir dir;
    testing::writeTestFile(dir / "file", "x");
    ConsoleCapture capture;
    UserManager store(dir / "file/kestrunepublic.db");
    EXPECT_TRUE(capture.contains("无法打开/创建数据库"));
    store.saveUser(fullUser(1));
    EXPECT_TRUE(capture.contains("准备删除语句失败"));
    EXPECT_EQ(store.getUser(), std::nullopt);
    EXPECT_TRUE(capture.contains("准备查询语句失败"));
}

TEST(UserStore, SharedStoreIsCreatedOnceInTheDocumentsFolder) {
    testing::TempHome home;
    UserManager* seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&slot] { slot = &UserManager::shared(); });
    for (auto& thread : threads)
        thread.join();
    for (auto* store : seen)
        EXPECT_EQ(store, seen[0]);
    seen[0]->saveUser(fullUser(9));
    EXPECT_TRUE(std::filesystem::exists(home.documents() / "kestrunepublic.db"));
}

}  // namespace
}  // namespace quillora
