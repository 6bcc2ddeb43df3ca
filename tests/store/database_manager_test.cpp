#include "store/database_manager.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "platform/console.h"
#include "support/temp_home.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TempDir;

KestruneItem makeItem(const std::string& orderid, KestruneItem::Date when = {}) {
    KestruneItem item(0, orderid, "task-" + orderid, "001", "/s/" + orderid + ".txt",
                      "/m/" + orderid + ".mp4", 0, when, status::kPending, 0, "local", "", "", "0",
                      0, "", "", "", "", 0, false, false, "");
    return item;
}

// Runs SQL straight on a database file, for building legacy tables and inspecting results.
class RawDatabase {
  public:
    explicit RawDatabase(const fs::path& file) { sqlite3_open(file.c_str(), &db_); }
    ~RawDatabase() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        char* error = nullptr;
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
    }
    std::vector<std::vector<std::string>> rows(const std::string& sql) {
        std::vector<std::vector<std::string>> result;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
        while (s && sqlite3_step(s) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                const auto* text = sqlite3_column_text(s, i);
                row.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            result.push_back(row);
        }
        sqlite3_finalize(s);
        return result;
    }

  private:
    sqlite3* db_ = nullptr;
};

class TaskStore : public ::testing::Test {
  protected:
    fs::path file() const { return dir.path() / "kestrunepublic.db"; }
    DatabaseManager& store() {
        if (!store_) store_ = std::make_unique<DatabaseManager>([this] { return dir.path(); });
        return *store_;
    }
    void reopen() { store_.reset(); }

    TempDir dir;
    std::unique_ptr<DatabaseManager> store_;
};

TEST_F(TaskStore, FreshDatabaseIsCreatedPrivateWithEveryUpkeepLineAndFirstIdOne) {
    ConsoleCapture capture;
    EXPECT_EQ(store().insertItem(makeItem("A")), 1);
    const std::vector<std::string> expected = {"数据库路径: " + file().string(),
                                               "表创建成功",
                                               "用户表创建成功",
                                               "id字段类型正确，无需修复",
                                               "id字段类型正确，无需修复",
                                               "数据库初始化成功",
                                               "✅ 插入成功: 新记录ID = 1"};
    EXPECT_EQ(capture.lines(), expected);
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    capture.clear();
    store().initializeDatabase();
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"数据库已初始化，跳过重复初始化"});
}

TEST_F(TaskStore, StoredRecordReadsBackWholeWithDateTruncatedToTheSecond) {
    const KestruneItem::Date noon{1'700'000'000s + 900ms};
    KestruneItem item(0, "ORDER", "TASK", "001", "/a.txt", "/a.mp4", 3, noon, status::kProcessing,
                      0.75, "local", "http://m", "http://t", "12", 1, "p1", "p2", "t", "srt", 1,
                      true, false, "");
    item.id = store().insertItem(item);
    const auto items = store().getAllItems();
    ASSERT_EQ(items.size(), 1u);
    KestruneItem expected = item;
    expected.submitDate = KestruneItem::Date{1'700'000'000s};
    EXPECT_EQ(items[0], expected);
    EXPECT_TRUE(items[0].explicitlySet.status);
    EXPECT_TRUE(items[0].explicitlySet.isorderdownloaded);
    EXPECT_FALSE(items[0].explicitlySet.istaskdownloaded);
}

TEST_F(TaskStore, DuplicateOrderIdFailsInsertWithSqliteMessage) {
    store().insertItem(makeItem("SAME"));
    try {
        store().insertItem(makeItem("SAME"));
        FAIL() << "duplicate insert succeeded";
    } catch (const DatabaseError& error) {
        EXPECT_EQ(error.kind(), DatabaseError::Kind::insertFailed);
        EXPECT_NE(error.message().find("UNIQUE"), std::string::npos) << error.message();
        EXPECT_EQ(error.description(), "插入数据失败: " + error.message());
    }
}

TEST_F(TaskStore, ListingReturnsTheHundredNewestNewestFirstAndStatusFilterReturnsAll) {
    for (int i = 0; i < 150; ++i) {
        auto item = makeItem("O" + std::to_string(i), KestruneItem::Date{std::chrono::seconds(i)});
        if (i % 2) item.status = status::kProcessing;
        store().insertItem(item);
    }
    const auto items = store().getAllItems();
    ASSERT_EQ(items.size(), 100u);
    EXPECT_EQ(items.front().orderid, "O149");
    EXPECT_EQ(items.back().orderid, "O50");
    ConsoleCapture capture;
    EXPECT_EQ(store().getItemsByStatus(status::kProcessing).size(), 75u);
    EXPECT_TRUE(capture.contains("成功获取状态为 '处理中' 的记录，共 75 条"));
}

TEST_F(TaskStore, UpdateByIdWritesOnlyGivenFieldsAndWarnsOnNothingOrMissingRow) {
    const auto id = store().insertItem(makeItem("A"));
    ConsoleCapture capture;
    store().updateTaskById(id, std::nullopt);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"⚠️ 没有提供要更新的字段"});

    store().updateTaskById(id, std::nullopt, 0.5);
    auto item = store().getAllItems().at(0);
    EXPECT_EQ(item.progress, 0.5);
    EXPECT_EQ(item.status, status::kPending);
    EXPECT_TRUE(capture.contains("✅ 成功更新任务 ID: 1"));

    store().updateTaskById(id, status::kTextProcessed, 0.25, 4.0, "10", "a", "b", 1);
    item = store().getAllItems().at(0);
    EXPECT_EQ(item.status, status::kTextProcessed);
    EXPECT_EQ(item.duration, 4.0);
    EXPECT_EQ(item.textlost, "10");
    EXPECT_EQ(item.part1, "a");
    EXPECT_EQ(item.part2, "b");
    EXPECT_EQ(item.isrenmingtiao, 1);

    capture.clear();
    EXPECT_NO_THROW(store().updateTaskById(99, status::kFailed));
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"⚠️ 未找到任务 ID: 99，可能任务不存在"});

    store().updateProgressById(id, 0.9);
    EXPECT_EQ(store().getAllItems().at(0).progress, 0.9);
}

TEST_F(TaskStore, UpdateSrtAndStatusByOrderId) {
    store().insertItem(makeItem("A"));
    ConsoleCapture capture;
    store().dsupdateSrtAndStatus("A", "1\n00:00:01,000 --> 00:00:02,000\n你好\n",
                                 status::kSucceeded);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "🔄 开始更新SRT和状态: orderid=A");
    EXPECT_EQ(lines[1],
              "📝 执行的SQL: UPDATE kestrune \nSET srt = ?, status = ?\nWHERE orderid = ?;");
    EXPECT_EQ(lines[2], "✅ 更新成功: 订单 A");
    EXPECT_EQ(lines[3], "   影响行数: 1");
    EXPECT_EQ(lines[4].rfind("   耗时: ", 0), 0u);
    EXPECT_EQ(lines[5], "   SRT内容长度: 35 字符");
    EXPECT_EQ(lines[6], "   状态值: 处理成功");
    const auto item = store().getAllItems().at(0);
    EXPECT_EQ(item.status, status::kSucceeded);
    EXPECT_EQ(item.srt, "1\n00:00:01,000 --> 00:00:02,000\n你好\n");

    capture.clear();
    store().dsupdateSrtAndStatus("A", std::nullopt, status::kFailed);
    EXPECT_TRUE(
        capture.contains("📝 执行的SQL: UPDATE kestrune \nSET status = ?\nWHERE orderid = ?;"));
    EXPECT_EQ(store().getAllItems().at(0).srt, item.srt);
}

TEST_F(TaskStore, ByOrderIdUpdatesRefuseMissingOrdersAndEmptyTexts) {
    store().insertItem(makeItem("A"));
    ConsoleCapture capture;
    auto expectUpdateFailed = [](auto&& call, const std::string& messagePart) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const DatabaseError& error) {
            EXPECT_EQ(error.kind(), DatabaseError::Kind::updateFailed);
            EXPECT_NE(error.message().find(messagePart), std::string::npos) << error.message();
        }
    };
    expectUpdateFailed([&] { store().dsupdateSrtAndStatus("NOPE", "x", std::nullopt); },
                       "订单 NOPE 不存在");
    EXPECT_TRUE(capture.contains("⚠️ 订单 NOPE 不存在，跳过更新"));
    expectUpdateFailed([&] { store().dsupdateTextLostByOrderId("NOPE", "x"); }, "订单 NOPE 不存在");

    capture.clear();
    expectUpdateFailed([&] { store().dsupdateSrtAndStatus("A", "", std::nullopt); }, "NOT NULL");
    EXPECT_EQ(capture.lines().back().rfind("❌ 更新失败: ", 0), 0u);
    expectUpdateFailed([&] { store().dsupdateTextLostByOrderId("A", ""); }, "NOT NULL");
    const auto lines = capture.lines();
    EXPECT_EQ(lines[lines.size() - 2].rfind("❌ 更新textlost字段失败: ", 0), 0u);
    EXPECT_EQ(lines.back(), "   SQL步骤结果: " + std::to_string(SQLITE_CONSTRAINT));
    EXPECT_EQ(store().getAllItems().at(0).textlost, "0");

    capture.clear();
    store().dsupdateTextLostByOrderId("A", "缺失2行");
    EXPECT_TRUE(capture.contains("✅ 更新textlost字段成功: 订单 A"));
    EXPECT_TRUE(capture.contains("   新textlost内容: 缺失2行"));
    EXPECT_TRUE(capture.contains("   内容长度: 4 字符"));
    EXPECT_EQ(store().getAllItems().at(0).textlost, "缺失2行");
}

TEST_F(TaskStore, DeletesAndIdsKeepGrowingAfterDeleteAll) {
    const auto first = store().insertItem(makeItem("A"));
    store().insertItem(makeItem("B"));
    store().deleteItemById(first);
    EXPECT_NO_THROW(store().deleteItemById(12345));
    ASSERT_EQ(store().getAllItems().size(), 1u);
    ConsoleCapture capture;
    store().deleteAllItems();
    EXPECT_TRUE(capture.contains("所有数据删除成功"));
    EXPECT_TRUE(store().getAllItems().empty());
    EXPECT_EQ(store().insertItem(makeItem("C")), 3);
}

TEST_F(TaskStore, ConcurrentFirstCallsOpenOnce) {
    ConsoleCapture capture;
    DatabaseManager& shared = store();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&shared] { shared.getAllItems(); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(capture.count("数据库初始化成功"), 1u);
    EXPECT_EQ(capture.count("数据库路径: " + file().string()), 1u);
}

TEST_F(TaskStore, UnopenableFileFailsWithConnectionFailedAndNextCallRetries) {
    const fs::path blocker = dir / "blocker";
    testing::writeTestFile(blocker, "a file where a folder should be");
    DatabaseManager blocked([&] { return blocker; });
    ConsoleCapture capture;
    try {
        blocked.getAllItems();
        FAIL() << "opened a database below a file";
    } catch (const DatabaseError& error) {
        EXPECT_EQ(error.kind(), DatabaseError::Kind::connectionFailed);
        EXPECT_EQ(error.description(), "连接数据库失败: " + error.message());
    }
    EXPECT_FALSE(blocked.isInitialized());
    fs::remove(blocker);
    fs::create_directory(blocker);
    EXPECT_NO_THROW(blocked.insertItem(makeItem("A")));
    EXPECT_TRUE(blocked.isInitialized());
}

TEST_F(TaskStore, CloseThenNextOperationReopens) {
    store().insertItem(makeItem("A"));
    ConsoleCapture capture;
    store().closeDatabase();
    EXPECT_TRUE(capture.contains("数据库已关闭"));
    EXPECT_FALSE(store().isInitialized());
    EXPECT_EQ(store().getAllItems().size(), 1u);
}

// Legacy tables: (declaration of id, whether the upgrade must rebuild).
class LegacyTable : public TaskStore,
                    public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(LegacyTable, IsRebuiltKeepingEveryRowRenumberedAndASecondUpkeepChangesNothing) {
    const auto [idDeclaration, extraColumns] = GetParam();
    {
        RawDatabase raw(file());
        raw.exec(std::string("CREATE TABLE kestrune (id ") + idDeclaration +
                 ", orderid TEXT NOT NULL DEFAULT '' UNIQUE, taskid TEXT NOT NULL DEFAULT '', "
                 "userid TEXT NOT NULL DEFAULT '', textFilePath TEXT NOT NULL DEFAULT '', "
                 "movieFilePath TEXT NOT NULL DEFAULT '', duration REAL NOT NULL DEFAULT 0, "
                 "submitDate INTEGER NOT NULL, status TEXT NOT NULL DEFAULT '', "
                 "progress REAL NOT NULL DEFAULT 0, username TEXT NOT NULL DEFAULT '', "
                 "movieurl TEXT NOT NULL DEFAULT '', txturl TEXT NOT NULL DEFAULT '', "
                 "textlost TEXT NOT NULL DEFAULT '', isrenmingtiao INTEGER NOT NULL DEFAULT 0, "
                 "part1 TEXT NOT NULL DEFAULT '', part2 TEXT NOT NULL DEFAULT '', "
                 "type TEXT NOT NULL DEFAULT '', srt TEXT NOT NULL DEFAULT ''" +
                 extraColumns + ");");
        raw.exec(
            "INSERT INTO kestrune (id, orderid, submitDate, status, srt) VALUES "
            "(7, 'X', 10, '处理成功', 'one'), (9, 'Y', 20, '处理中', 'two');");
    }
    ConsoleCapture capture;
    const auto items = store().getAllItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].orderid, "Y");
    EXPECT_EQ(items[1].srt, "one");
    reopen();
    RawDatabase raw(file());
    EXPECT_EQ(raw.rows("SELECT id, orderid FROM kestrune ORDER BY id;"),
              (std::vector<std::vector<std::string>>{{"1", "X"}, {"2", "Y"}}));
    EXPECT_EQ(raw.rows("PRAGMA table_info(kestrune);").size(), 23u);
    EXPECT_EQ(raw.rows("SELECT name FROM sqlite_master WHERE name = 'kestrune_temp';").size(), 0u);

    capture.clear();
    store().getAllItems();
    EXPECT_EQ(capture.count("id字段类型正确，无需修复"), 2u);
    for (const auto& line : capture.lines())
        EXPECT_EQ(line.find("已添加列"), std::string::npos);
    EXPECT_EQ(raw.rows("SELECT id FROM kestrune;").size(), 2u);
}

constexpr const char* kFlagColumns =
    ", notice INTEGER NOT NULL DEFAULT 0, isorderdownloaded INTEGER NOT NULL DEFAULT 0, "
    "istaskdownloaded INTEGER NOT NULL DEFAULT 0, orderfilename TEXT NOT NULL DEFAULT ''";

INSTANTIATE_TEST_SUITE_P(
    Declarations, LegacyTable,
    ::testing::Values(std::pair{"INT PRIMARY KEY", kFlagColumns},
                      std::pair{"integer", kFlagColumns}, std::pair{"INTEGER", kFlagColumns},
                      // Declared in lower case: the PRAGMA would report it as "INTEGER".
                      std::pair{"integer PRIMARY KEY", kFlagColumns},
                      // Both faults at once: the copy takes only the columns the table has.
                      std::pair{"INT PRIMARY KEY", ""}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(TaskStore, LegacyTableMissingFlagColumnsGainsThemOnce) {
    {
        RawDatabase raw(file());
        raw.exec(
            "CREATE TABLE kestrune (id INTEGER PRIMARY KEY AUTOINCREMENT, orderid TEXT NOT "
            "NULL DEFAULT '' UNIQUE, submitDate INTEGER NOT NULL, status TEXT NOT NULL "
            "DEFAULT '');");
        raw.exec("INSERT INTO kestrune (orderid, submitDate) VALUES ('X', 1);");
    }
    ConsoleCapture capture;
    store().initializeDatabase();
    EXPECT_TRUE(capture.contains("已添加列: notice"));
    EXPECT_TRUE(capture.contains("已添加列: isorderdownloaded"));
    EXPECT_TRUE(capture.contains("已添加列: istaskdownloaded"));
    reopen();
    capture.clear();
    store().initializeDatabase();
    for (const auto& line : capture.lines())
        EXPECT_EQ(line.find("已添加列"), std::string::npos);
    RawDatabase raw(file());
    EXPECT_EQ(raw.rows("SELECT notice, isorderdownloaded, istaskdownloaded FROM kestrune;"),
              (std::vector<std::vector<std::string>>{{"0", "0", "0"}}));
}

TEST(KestruneItemRecord, FlagsFollowDefaultsAndJsonRoundTripsRequiringEveryKey) {
    const KestruneItem blank(0, "", "", "", "", "", 0, {}, "待处理", 0, "", "", "", "", 0, "", "",
                             "", "", 0, false, false, "");
    EXPECT_EQ(blank.explicitlySet, ExplicitlySetFields{});
    EXPECT_EQ(blank.outputFormat, "m4a");

    KestruneItem task = KestruneItem::newTask("/s.txt", "/m.mp4");
    task.submitDate = KestruneItem::Date{1'700'000'000s + 250ms};  // exact as a double
    ExplicitlySetFields expected;
    expected.taskid = expected.textFilePath = expected.movieFilePath = expected.textlost = true;
    EXPECT_EQ(task.explicitlySet, expected);
    EXPECT_EQ(task.orderid.size(), 32u);
    EXPECT_NE(task.orderid, task.taskid);

    const nlohmann::json json = task;
    EXPECT_EQ(json["explicitlySet"]["taskid"], true);
    EXPECT_EQ(json.get<KestruneItem>(), task);
    nlohmann::json missing = json;
    missing.erase("orderfilename");
    EXPECT_THROW(missing.get<KestruneItem>(), nlohmann::json::exception);
    missing = json;
    missing["explicitlySet"].erase("part2");
    EXPECT_THROW(missing.get<KestruneItem>(), nlohmann::json::exception);
}

}  // namespace
}  // namespace quillora
