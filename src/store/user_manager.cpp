#include "store/user_manager.h"

#include <sqlite3.h>

#include <mutex>

#include "platform/console.h"
#include "platform/paths.h"

namespace quillora {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCreateUserTable =
    "CREATE TABLE IF NOT EXISTS user (\nuserid INTEGER,\npreamount REAL,\nphone TEXT,\nzimu "
    "REAL,\nshijianzhou REAL,\npaytype INTEGER,\nsrtPassword TEXT,\nupdated_at TEXT\n);";

template <typename T>
std::optional<T> nonZero(T value) {
    return value == T{} ? std::nullopt : std::optional<T>(value);
}

}  // namespace

UserManager& UserManager::shared() {
    // A function-local static is initialised exactly once, even under concurrent first calls.
    static UserManager manager(documentsDirectory() / "kestrunepublic.db");
    return manager;
}

UserManager::UserManager(const fs::path& databaseFile) {
    try {
        db_ = openPrivateDatabase(databaseFile);
    } catch (const SqliteError&) {
        console("无法打开/创建数据库");
        return;
    }
    SqliteStatement create = prepareStatement(db_.get(), kCreateUserTable);
    if (!create) {
        console("准备创建用户表失败");
    } else if (sqlite3_step(create.get()) != SQLITE_DONE) {
        console("创建用户表失败");
    } else {
        console("用户表创建成功");
    }
}

UserManager::~UserManager() {
    std::unique_lock lock(databaseQueue_);
    if (db_ && !closeConnection(db_)) console("关闭数据库失败");
}

void UserManager::saveUser(const UserData& user) {
    std::unique_lock lock(databaseQueue_);
    SqliteStatement remove = prepareStatement(db_.get(), "DELETE FROM user;");
    if (!remove) {
        console("准备删除语句失败");
        return;
    }
    SqliteStatement insert = prepareStatement(
        db_.get(),
        "INSERT INTO user (userid, preamount, phone, zimu, shijianzhou, paytype, srtPassword, "
        "updated_at)\nVALUES (?, ?, ?, ?, ?, ?, ?, datetime('now'));");
    if (!insert) {
        console("准备插入语句失败");
        return;
    }
    sqlite3_stmt* s = insert.get();
    bindOptional(s, 1, user.userid);
    bindOptional(s, 2, user.preamount);
    bindOptional(s, 3, user.phone);
    bindOptional(s, 4, user.zimu);
    bindOptional(s, 5, user.shijianzhou);
    bindOptional(s, 6, user.paytype);
    bindOptional(s, 7, user.srtPassword);
    // The delete and the insert are one transaction: a failure or a kill between them keeps the
    // user stored before instead of leaving none.
    try {
        Transaction transaction(db_.get());
        sqlite3_step(remove.get());
        if (sqlite3_step(s) != SQLITE_DONE) throw SqliteError(sqliteErrorMessage(db_.get()));
        transaction.commit();
    } catch (const SqliteError&) {
        console("用户信息保存失败");
        return;
    }
    console("用户信息保存成功");
}

std::optional<UserData> UserManager::getUser() {
    std::shared_lock lock(databaseQueue_);
    SqliteStatement query = prepareStatement(
        db_.get(),
        "SELECT userid, preamount, phone, zimu, shijianzhou, paytype, srtPassword FROM user "
        "LIMIT 1;");
    if (!query) {
        console("准备查询语句失败");
        return std::nullopt;
    }
    sqlite3_stmt* s = query.get();
    if (sqlite3_step(s) != SQLITE_ROW) {
        console("没有找到用户信息");
        return std::nullopt;
    }
    UserData user;
    user.userid = nonZero<std::int64_t>(sqlite3_column_int64(s, 0));
    user.preamount = nonZero(sqlite3_column_double(s, 1));
    user.phone = columnOptionalText(s, 2);
    user.zimu = nonZero(sqlite3_column_double(s, 3));
    user.shijianzhou = nonZero(sqlite3_column_double(s, 4));
    user.paytype = nonZero<std::int64_t>(sqlite3_column_int64(s, 5));
    user.srtPassword = columnOptionalText(s, 6);
    return user;
}

void UserManager::updatePreamount(double preamount) {
    std::unique_lock lock(databaseQueue_);
    SqliteStatement update =
        prepareStatement(db_.get(), "UPDATE user SET preamount = ?, updated_at = datetime('now');");
    if (!update) {
        console("准备更新preamount语句失败");
        return;
    }
    sqlite3_bind_double(update.get(), 1, preamount);
    console(sqlite3_step(update.get()) == SQLITE_DONE ? "更新preamount成功" : "更新preamount失败");
}

}  // namespace quillora
