#include "store/database_manager.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <variant>

#include "platform/console.h"
#include "platform/paths.h"
#include "text/unicode.h"

namespace quillora {
namespace fs = std::filesystem;

namespace {

// Column list shared by the table and its rebuild copy; index order is the decoding order.
constexpr const char* kKestruneColumns =
    "(id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "orderid TEXT NOT NULL DEFAULT '' UNIQUE, "
    "taskid TEXT NOT NULL DEFAULT '', "
    "userid TEXT NOT NULL DEFAULT '', "
    "textFilePath TEXT NOT NULL DEFAULT '', "
    "movieFilePath TEXT NOT NULL DEFAULT '', "
    "duration REAL NOT NULL DEFAULT 0, "
    "submitDate INTEGER NOT NULL, "
    "status TEXT NOT NULL DEFAULT '', "
    "progress REAL NOT NULL DEFAULT 0, "
    "username TEXT NOT NULL DEFAULT '', "
    "movieurl TEXT NOT NULL DEFAULT '', "
    "txturl TEXT NOT NULL DEFAULT '', "
    "textlost TEXT NOT NULL DEFAULT '', "
    "isrenmingtiao INTEGER NOT NULL DEFAULT 0, "
    "part1 TEXT NOT NULL DEFAULT '', "
    "part2 TEXT NOT NULL DEFAULT '', "
    "type TEXT NOT NULL DEFAULT '', "
    "srt TEXT NOT NULL DEFAULT '', "
    "notice INTEGER NOT NULL DEFAULT 0, "
    "isorderdownloaded INTEGER NOT NULL DEFAULT 0, "
    "istaskdownloaded INTEGER NOT NULL DEFAULT 0, "
    "orderfilename TEXT NOT NULL DEFAULT '')";

constexpr const char* kCreateLegacyUserTable =
    "CREATE TABLE IF NOT EXISTS user ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "userid INTEGER NOT NULL, "
    "preamount TEXT, "
    "phone TEXT NOT NULL, "
    "zimu TEXT, "
    "shijianzhou TEXT, "
    "paytype TEXT, "
    "created_at TEXT DEFAULT (datetime('now')), "
    "updated_at TEXT DEFAULT (datetime('now')));";

// The 21 columns an insert writes and a rebuild copies (id and orderfilename are left out).
constexpr const char* kCopiedColumns[] = {
    "orderid",         "taskid",     "userid",   "textFilePath",  "movieFilePath",
    "duration",        "submitDate", "status",   "progress",      "username",
    "movieurl",        "txturl",     "textlost", "isrenmingtiao", "part1",
    "part2",           "type",       "srt",      "notice",        "isorderdownloaded",
    "istaskdownloaded"};

constexpr const char* kAddedColumns[] = {"notice INTEGER NOT NULL DEFAULT 0",
                                         "isorderdownloaded INTEGER NOT NULL DEFAULT 0",
                                         "istaskdownloaded INTEGER NOT NULL DEFAULT 0"};

// By-order-id updates bind an empty text as NULL, so the NOT NULL columns refuse it.
void bindTextOrNull(sqlite3_stmt* statement, int index, const std::string& text) {
    if (text.empty()) {
        sqlite3_bind_null(statement, index);
    } else {
        bindText(statement, index, text);
    }
}

std::vector<std::string> kestruneColumnNames(sqlite3* db) {
    std::vector<std::string> names;
    SqliteStatement pragma = prepareStatement(db, "PRAGMA table_info(kestrune);");
    while (pragma && sqlite3_step(pragma.get()) == SQLITE_ROW) {
        names.push_back(columnText(pragma.get(), 1));
    }
    return names;
}

std::string elapsedSeconds(std::chrono::steady_clock::time_point start) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
    return buffer;
}

}  // namespace

DatabaseManager& DatabaseManager::shared() {
    static DatabaseManager manager([] { return applicationSupportDirectory(); });
    return manager;
}

DatabaseManager::DatabaseManager(std::function<fs::path()> directory)
    : directory_(std::move(directory)) {}

DatabaseManager::~DatabaseManager() {
    closeDatabase();
}

void DatabaseManager::initializeDatabase() {
    if (initialized_) {
        console("数据库已初始化，跳过重复初始化");
        return;
    }
    std::unique_lock lock(databaseQueue_);
    if (initialized_) {
        console("数据库已初始化，跳过重复初始化");
        return;
    }
    const fs::path file = directory_() / databaseName;
    console("数据库路径: " + file.string());
    try {
        db_ = openPrivateDatabase(file);
    } catch (const SqliteError& error) {
        console("打开数据库失败: " + error.message());
        throw DatabaseError::connectionFailed(error.message());
    }
    try {
        createKestruneTable();
        updateTableSchema();
        fixIdColumnType();
        createSubmitDateIndex();
    } catch (...) {
        db_.reset();  // the next operation starts over
        throw;
    }
    initialized_ = true;
    console("数据库初始化成功");
}

void DatabaseManager::ensureInitialized() {
    if (!initialized_) initializeDatabase();
}

void DatabaseManager::createKestruneTable() {
    if (auto error = executeSql(db_.get(), std::string("CREATE TABLE IF NOT EXISTS kestrune ") +
                                               kKestruneColumns + ";")) {
        throw DatabaseError::tableCreationFailed(*error);
    }
    console("表创建成功");
    if (auto error = executeSql(db_.get(), kCreateLegacyUserTable)) {
        throw DatabaseError::tableCreationFailed(*error);
    }
    console("用户表创建成功");
}

void DatabaseManager::updateTableSchema() {
    if (!db_) throw DatabaseError::connectionFailed("数据库连接无效");
    fixIdColumnType();
    for (const std::string definition : kAddedColumns) {
        const std::string name = definition.substr(0, definition.find(' '));
        if (name.empty()) {
            console("跳过无效的列定义: " + definition);
            continue;
        }
        const auto existing = kestruneColumnNames(db_.get());
        if (std::find(existing.begin(), existing.end(), name) != existing.end()) continue;

        const std::string sql = "ALTER TABLE kestrune ADD COLUMN " + definition + ";";
        SqliteStatement alter = prepareStatement(db_.get(), sql);
        const bool prepared = static_cast<bool>(alter);
        if (prepared && sqlite3_step(alter.get()) == SQLITE_DONE) {
            console("已添加列: " + name);
            continue;
        }
        const std::string message = sqliteErrorMessage(db_.get());
        if (message.find("duplicate column name") != std::string::npos) {
            console("列 " + name + " 已存在，跳过添加");
            continue;
        }
        throw prepared ? DatabaseError::updateFailed(message) : DatabaseError::queryFailed(message);
    }
}

void DatabaseManager::fixIdColumnType() {
    std::optional<std::string> type;
    bool primaryKey = false;
    if (SqliteStatement pragma = prepareStatement(db_.get(), "PRAGMA table_info(kestrune);")) {
        while (sqlite3_step(pragma.get()) == SQLITE_ROW) {
            if (columnText(pragma.get(), 1) != "id") continue;
            type = columnOptionalText(pragma.get(), 2);
            primaryKey = sqlite3_column_int(pragma.get(), 5) == 1;
            break;
        }
    }
    // The PRAGMA upper-cases standard type names ("integer" reads "INTEGER"); the type as the
    // table declares it is in its CREATE statement.
    if (type) type = declaredColumnType(db_.get(), "kestrune", "id").value_or(*type);
    if (type == "INTEGER" && primaryKey) {
        console("id字段类型正确，无需修复");
        return;
    }
    console("发现id字段类型问题，当前类型: " + type.value_or("未知") +
            "，是否为主键: " + (primaryKey ? "true" : "false") + "，需要重建表");

    // Columns an old table lacks are left to their defaults rather than failing the copy, and
    // the rebuild is one transaction, so a failure part-way never strands the rows.
    const auto existing = kestruneColumnNames(db_.get());
    std::vector<std::string> copied;
    for (const char* column : kCopiedColumns) {
        if (std::find(existing.begin(), existing.end(), column) != existing.end()) {
            copied.emplace_back(column);
        }
    }
    std::optional<Transaction> transaction;
    try {
        transaction.emplace(db_.get());
    } catch (const SqliteError& error) {
        throw DatabaseError::queryFailed(error.message());
    }
    if (auto error =
            executeSql(db_.get(), std::string("CREATE TABLE IF NOT EXISTS kestrune_temp ") +
                                      kKestruneColumns + ";")) {
        throw DatabaseError::tableCreationFailed(*error);
    }
    const std::string columns = joinStrings(copied, ", ");
    const std::string steps[] = {
        "INSERT INTO kestrune_temp (" + columns + ") SELECT " + columns + " FROM kestrune;",
        "DROP TABLE IF EXISTS kestrune;",
        "ALTER TABLE kestrune_temp RENAME TO kestrune;",
    };
    for (const std::string& sql : steps) {
        if (auto error = executeSql(db_.get(), sql)) throw DatabaseError::queryFailed(*error);
    }
    try {
        transaction->commit();
    } catch (const SqliteError& error) {
        throw DatabaseError::queryFailed(error.message());
    }
    console("表重建成功，id字段已修复为INTEGER PRIMARY KEY AUTOINCREMENT");
}

void DatabaseManager::createSubmitDateIndex() {
    // The listing orders by submitDate; without an index it sorts the whole table every time.
    if (auto error = executeSql(db_.get(),
                                "CREATE INDEX IF NOT EXISTS kestrune_submitDate ON "
                                "kestrune(submitDate);")) {
        throw DatabaseError::tableCreationFailed(*error);
    }
}

std::int64_t DatabaseManager::insertItem(const KestruneItem& item) {
    ensureInitialized();
    std::unique_lock lock(databaseQueue_);
    std::vector<std::string> names(std::begin(kCopiedColumns), std::end(kCopiedColumns));
    const std::string sql = "INSERT INTO kestrune (" + joinStrings(names, ", ") + ") VALUES (" +
                            joinStrings(std::vector<std::string>(names.size(), "?"), ", ") + ");";
    SqliteStatement statement = prepareOrThrow(db_.get(), sql, DatabaseError::insertFailed);
    sqlite3_stmt* s = statement.get();
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(item.submitDate.time_since_epoch());
    bindText(s, 1, item.orderid);
    bindText(s, 2, item.taskid);
    bindText(s, 3, item.userid);
    bindText(s, 4, item.textFilePath);
    bindText(s, 5, item.movieFilePath);
    sqlite3_bind_double(s, 6, item.duration);
    sqlite3_bind_int64(s, 7, seconds.count());
    bindText(s, 8, item.status);
    sqlite3_bind_double(s, 9, item.progress);
    bindText(s, 10, item.username);
    bindText(s, 11, item.movieurl);
    bindText(s, 12, item.txturl);
    bindText(s, 13, item.textlost);
    sqlite3_bind_int(s, 14, item.isrenmingtiao);
    bindText(s, 15, item.part1);
    bindText(s, 16, item.part2);
    bindText(s, 17, item.type);
    bindText(s, 18, item.srt);
    sqlite3_bind_int(s, 19, item.notice);
    sqlite3_bind_int(s, 20, item.isorderdownloaded ? 1 : 0);
    sqlite3_bind_int(s, 21, item.istaskdownloaded ? 1 : 0);
    if (sqlite3_step(s) != SQLITE_DONE) {
        throw DatabaseError::insertFailed(sqliteErrorMessage(db_.get()));
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_.get());
    console("✅ 插入成功: 新记录ID = " + std::to_string(id));
    return id;
}

std::vector<KestruneItem> DatabaseManager::readItems(sqlite3_stmt* s) {
    std::vector<KestruneItem> items;
    // A step error ends the listing quietly, like the end of the rows.
    while (sqlite3_step(s) == SQLITE_ROW) {
        const KestruneItem::Date date{std::chrono::seconds(sqlite3_column_int64(s, 7))};
        items.emplace_back(
            sqlite3_column_int64(s, 0), columnText(s, 1), columnText(s, 2), columnText(s, 3),
            columnText(s, 4), columnText(s, 5), sqlite3_column_double(s, 6), date, columnText(s, 8),
            sqlite3_column_double(s, 9), columnText(s, 10), columnText(s, 11), columnText(s, 12),
            columnText(s, 13), sqlite3_column_int(s, 14), columnText(s, 15), columnText(s, 16),
            columnText(s, 17), columnText(s, 18), sqlite3_column_int(s, 19),
            sqlite3_column_int64(s, 20) != 0, sqlite3_column_int64(s, 21) != 0, columnText(s, 22));
    }
    return items;
}

std::vector<KestruneItem> DatabaseManager::getAllItems() {
    ensureInitialized();
    std::shared_lock lock(databaseQueue_);
    SqliteStatement statement =
        prepareOrThrow(db_.get(), "SELECT * FROM kestrune ORDER BY submitDate desc limit 100;",
                       DatabaseError::queryFailed);
    return readItems(statement.get());
}

std::vector<KestruneItem> DatabaseManager::getItemsByStatus(const std::string& status) {
    ensureInitialized();
    std::shared_lock lock(databaseQueue_);
    SqliteStatement statement = prepareOrThrow(
        db_.get(), "SELECT * FROM kestrune WHERE status = ?;", DatabaseError::queryFailed);
    bindText(statement.get(), 1, status);
    auto items = readItems(statement.get());
    console("成功获取状态为 '" + status + "' 的记录，共 " + std::to_string(items.size()) + " 条");
    return items;
}

void DatabaseManager::updateTaskById(std::int64_t id, std::optional<std::string> status,
                                     std::optional<double> progress, std::optional<double> duration,
                                     std::optional<std::string> textlost,
                                     std::optional<std::string> part1,
                                     std::optional<std::string> part2,
                                     std::optional<std::int32_t> isrenmingtiao) {
    ensureInitialized();
    using Value = std::variant<std::string, double, std::int32_t>;
    std::vector<std::string> assignments;
    std::vector<Value> values;
    auto add = [&](const char* assignment, const auto& value) {
        if (!value) return;
        assignments.emplace_back(assignment);
        values.emplace_back(*value);
    };
    add("status = ?", status);
    add("progress = ?", progress);
    add("duration = ?", duration);
    add("textlost = ?", textlost);
    add("part1 = ?", part1);
    add("part2 = ?", part2);
    add("isrenmingtiao = ?", isrenmingtiao);
    if (assignments.empty()) {
        console("⚠️ 没有提供要更新的字段");
        return;
    }
    std::unique_lock lock(databaseQueue_);
    const std::string sql =
        "UPDATE kestrune SET " + joinStrings(assignments, ", ") + " WHERE id = ?;";
    SqliteStatement statement = prepareOrThrow(db_.get(), sql, DatabaseError::updateFailed);
    int index = 1;
    for (const Value& value : values) {
        if (const auto* text = std::get_if<std::string>(&value)) {
            bindText(statement.get(), index, *text);
        } else if (const auto* number = std::get_if<double>(&value)) {
            sqlite3_bind_double(statement.get(), index, *number);
        } else {
            sqlite3_bind_int(statement.get(), index, std::get<std::int32_t>(value));
        }
        ++index;
    }
    sqlite3_bind_int64(statement.get(), index, id);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        throw DatabaseError::updateFailed(sqliteErrorMessage(db_.get()));
    }
    if (sqlite3_changes(db_.get()) < 1) {
        console("⚠️ 未找到任务 ID: " + std::to_string(id) + "，可能任务不存在");
    } else {
        console("✅ 成功更新任务 ID: " + std::to_string(id));
    }
}

void DatabaseManager::updateProgressById(std::int64_t id, double progress) {
    ensureInitialized();
    std::unique_lock lock(databaseQueue_);
    SqliteStatement statement = prepareOrThrow(
        db_.get(), "UPDATE kestrune SET progress = ? WHERE id = ?;", DatabaseError::updateFailed);
    sqlite3_bind_double(statement.get(), 1, progress);
    sqlite3_bind_int64(statement.get(), 2, id);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        throw DatabaseError::updateFailed(sqliteErrorMessage(db_.get()));
    }
}

void DatabaseManager::requireOrderExists(const std::string& orderid) {
    SqliteStatement check =
        prepareOrThrow(db_.get(), "SELECT COUNT(*) FROM kestrune WHERE orderid = ?;",
                       DatabaseError::queryFailed, "❌ 检查订单存在失败: ");
    bindText(check.get(), 1, orderid);
    if (sqlite3_step(check.get()) != SQLITE_ROW || sqlite3_column_int64(check.get(), 0) <= 0) {
        console("⚠️ 订单 " + orderid + " 不存在，跳过更新");
        throw DatabaseError::updateFailed("订单 " + orderid + " 不存在");
    }
}

void DatabaseManager::dsupdateSrtAndStatus(const std::string& orderid,
                                           std::optional<std::string> srt,
                                           std::optional<std::string> status) {
    ensureInitialized();
    const auto start = std::chrono::steady_clock::now();
    console("🔄 开始更新SRT和状态: orderid=" + orderid);
    if (!srt && !status) {
        console("⚠️ 没有提供要更新的字段");
        return;
    }
    std::unique_lock lock(databaseQueue_);
    requireOrderExists(orderid);
    std::vector<std::string> assignments;
    if (srt) assignments.emplace_back("srt = ?");
    if (status) assignments.emplace_back("status = ?");
    const std::string sql =
        "UPDATE kestrune \nSET " + joinStrings(assignments, ", ") + "\nWHERE orderid = ?;";
    console("📝 执行的SQL: " + sql);
    SqliteStatement statement =
        prepareOrThrow(db_.get(), sql, DatabaseError::updateFailed, "❌ SQL准备失败: ");
    int index = 1;
    if (srt) bindTextOrNull(statement.get(), index++, *srt);
    if (status) bindTextOrNull(statement.get(), index++, *status);
    bindText(statement.get(), index, orderid);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        const std::string message = sqliteErrorMessage(db_.get());
        console("❌ 更新失败: " + message);
        throw DatabaseError::updateFailed(message);
    }
    console("✅ 更新成功: 订单 " + orderid);
    console("   影响行数: " + std::to_string(sqlite3_changes(db_.get())));
    console("   耗时: " + elapsedSeconds(start) + "秒");
    if (srt) console("   SRT内容长度: " + std::to_string(graphemeCount(*srt)) + " 字符");
    if (status) console("   状态值: " + *status);
}

void DatabaseManager::dsupdateTextLostByOrderId(const std::string& orderid,
                                                const std::string& textlost) {
    ensureInitialized();
    const auto start = std::chrono::steady_clock::now();
    console("🔄 开始更新textlost字段: orderid=" + orderid + ", textlost=" + textlost);
    std::unique_lock lock(databaseQueue_);
    requireOrderExists(orderid);
    SqliteStatement statement =
        prepareOrThrow(db_.get(), "UPDATE kestrune \nSET textlost = ?\nWHERE orderid = ?;",
                       DatabaseError::updateFailed, "❌ SQL准备失败: ");
    bindTextOrNull(statement.get(), 1, textlost);
    bindText(statement.get(), 2, orderid);
    const int result = sqlite3_step(statement.get());
    if (result != SQLITE_DONE) {
        const std::string message = sqliteErrorMessage(db_.get());
        console("❌ 更新textlost字段失败: " + message);
        console("   SQL步骤结果: " + std::to_string(result));
        throw DatabaseError::updateFailed(message);
    }
    console("✅ 更新textlost字段成功: 订单 " + orderid);
    console("   影响行数: " + std::to_string(sqlite3_changes(db_.get())));
    console("   耗时: " + elapsedSeconds(start) + "秒");
    console("   新textlost内容: " + textlost);
    console("   内容长度: " + std::to_string(graphemeCount(textlost)) + " 字符");
}

void DatabaseManager::deleteItemById(std::int64_t id) {
    ensureInitialized();
    std::unique_lock lock(databaseQueue_);
    SqliteStatement statement = prepareOrThrow(db_.get(), "DELETE FROM kestrune WHERE id = ?;",
                                               DatabaseError::deleteFailed);
    sqlite3_bind_int64(statement.get(), 1, id);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        throw DatabaseError::deleteFailed(sqliteErrorMessage(db_.get()));
    }
}

void DatabaseManager::deleteAllItems() {
    ensureInitialized();
    std::unique_lock lock(databaseQueue_);
    if (auto error = executeSql(db_.get(), "DELETE FROM kestrune;")) {
        throw DatabaseError::deleteFailed(*error);
    }
    console("所有数据删除成功");
}

void DatabaseManager::closeDatabase() {
    if (!initialized_) return;
    std::unique_lock lock(databaseQueue_);
    if (db_) {
        db_.reset();
        initialized_ = false;
        console("数据库已关闭");
    }
}

}  // namespace quillora
