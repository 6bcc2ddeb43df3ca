#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "platform/console.h"
#include "shell/dashboard.h"
#include "store/database_manager.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

namespace fs = std::filesystem;

struct Store {
    testing::TempDir dir;
    DatabaseManager database{[this] { return dir.path(); }};
};

TEST(ShellDashboard, ChoosingAndDroppingFilesFillsBothPaths) {
    testing::TempDir dir;
    testing::writeTestFile(dir / "talk.TXT", "line");
    testing::writeTestFile(dir / "talk.MP4", "video");
    testing::writeTestFile(dir / "other.wav", "audio");

    DashboardForm form;
    form.chooseTextFile(dir / "talk.TXT");
    EXPECT_EQ(form.selectedTextFilePath, (dir / "talk.TXT").string());
    EXPECT_EQ(form.selectedMediaFilePath, (dir / "talk.MP4").string()) << "same-name lookup";
    EXPECT_TRUE(form.canAddTask());
    form.isLoading = true;
    EXPECT_FALSE(form.canAddTask());

    DashboardForm dropped;
    EXPECT_FALSE(dropped.dropFiles({dir / "notes.pdf"}));
    EXPECT_TRUE(dropped.dropFiles({dir / "other.wav", dir / "talk.TXT"}));
    EXPECT_EQ(dropped.selectedMediaFilePath, (dir / "other.wav").string())
        << "a dropped recording wins over the same-name lookup";
    EXPECT_EQ(dropped.selectedTextFilePath, (dir / "talk.TXT").string());
    EXPECT_FALSE(DashboardForm{}.canAddTask());
}

TEST(ShellDashboard, AddingATaskStoresItPendingOnTopAndHandsItOver) {
    Store store;
    std::vector<KestruneItem> handed;
    DashboardForm form;
    form.selectedTextFilePath = "/s/older.txt";
    form.selectedMediaFilePath = "/s/older.mp4";
    form.apply(addTask(store.database, form.selectedTextFilePath, form.selectedMediaFilePath,
                       [&](const KestruneItem& task) { handed.push_back(task); }));
    form.selectedTextFilePath = "/s/talk.txt";
    form.selectedMediaFilePath = "/s/talk.mp4";
    form.apply(addTask(store.database, form.selectedTextFilePath, form.selectedMediaFilePath,
                       [&](const KestruneItem& task) { handed.push_back(task); }));

    EXPECT_EQ(form.resultText, "成功添加一条新任务！");
    EXPECT_TRUE(form.errorText.empty());
    EXPECT_TRUE(form.selectedTextFilePath.empty() && form.selectedMediaFilePath.empty());
    const std::vector<KestruneItem> rows = loadTasks(store.database);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(rows.front().movieFilePath, "/s/talk.mp4") << "newest on top";
    EXPECT_EQ(rows.front().status, "待处理");
    EXPECT_EQ(rows.front().id, handed.back().id) << "the pipeline gets the stored id";
    EXPECT_EQ(rows.front().orderid, handed.back().orderid);
    EXPECT_EQ(cellText(rows.front(), TaskColumn::media), "talk.mp4");
    EXPECT_EQ(cellText(rows.front(), TaskColumn::lineCount), "0");

    // A store that cannot open reports through the form and keeps the chosen files.
    testing::writeTestFile(store.dir / "file", "x");
    DatabaseManager broken([&] { return store.dir / "file"; });
    form.selectedTextFilePath = "/s/a.txt";
    form.selectedMediaFilePath = "/s/a.mp4";
    form.apply(addTask(broken, form.selectedTextFilePath, form.selectedMediaFilePath,
                       [&](const KestruneItem& task) { handed.push_back(task); }));
    EXPECT_EQ(form.errorText.rfind("数据库操作失败: ", 0), 0u) << form.errorText;
    EXPECT_EQ(form.selectedTextFilePath, "/s/a.txt");
    EXPECT_EQ(handed.size(), 2u);

    form.note(TableCallback::unselectAll);
    EXPECT_EQ(form.resultText, "取消全部选中");
}

TEST(ShellDashboard, DeletingSampleDataAndClearing) {
    Store store;
    ConsoleCapture console;
    ASSERT_TRUE(createSampleData(store.database));
    EXPECT_TRUE(console.contains("示例数据创建成功"));
    std::vector<KestruneItem> rows = loadTasks(store.database);
    ASSERT_EQ(rows.size(), 3u);
    std::set<std::string> statuses;
    for (const auto& row : rows)
        statuses.insert(row.status);
    EXPECT_EQ(statuses, (std::set<std::string>{"待处理", "转换中", "已完成"}));

    const DeleteOutcome outcome = deleteTasks(store.database, {rows[0].id, rows[2].id});
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.deleted, (std::vector<std::int64_t>{rows[0].id, rows[2].id}));
    ASSERT_EQ(loadTasks(store.database).size(), 1u);
    EXPECT_EQ(loadTasks(store.database).front().id, rows[1].id);

    ASSERT_TRUE(clearAllData(store.database));
    EXPECT_TRUE(console.contains("数据清空成功"));
    EXPECT_TRUE(loadTasks(store.database).empty());
}

TEST(ShellDashboard, StatusColoursProgressBarsAndCells) {
    struct Case {
        const char* status;
        StatusTone tone;
        bool progress;
    };
    const Case cases[] = {
        {"支付失败", StatusTone::failed, false},  {"处理成功", StatusTone::succeeded, false},
        {"处理中", StatusTone::running, true},    {"转换中", StatusTone::running, true},
        {"已完成", StatusTone::completed, false}, {"待处理", StatusTone::normal, false},
        {"转码中", StatusTone::normal, true},     {"已取消", StatusTone::normal, false},
        {"转换中失败", StatusTone::failed, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(statusTone(c.status), c.tone) << c.status;
        EXPECT_EQ(showsProgress(c.status), c.progress) << c.status;
    }
    EXPECT_EQ(clampedProgress(1.7), 1.0);
    EXPECT_EQ(clampedProgress(-0.2), 0.0);
    EXPECT_EQ(clampedProgress(std::nan("")), 0.0);

    KestruneItem item;
    item.duration = 2.5;
    EXPECT_EQ(cellText(item, TaskColumn::duration), "2");
    item.duration = 3.5;
    EXPECT_EQ(cellText(item, TaskColumn::duration), "4") << "printf rounds half to even";
    EXPECT_EQ(copyMenuLabel(TaskColumn::script), "复制文件名");
    EXPECT_EQ(copyMenuLabel(TaskColumn::lineCount), "");
}

TEST(ShellDashboard, ReloadsCoalesceAndKeepRowsWhenOnlyContentChanged) {
    ReloadGate gate;
    EXPECT_TRUE(gate.request());
    EXPECT_FALSE(gate.request());
    EXPECT_FALSE(gate.request());
    EXPECT_TRUE(gate.finished()) << "changes during the load get one more load";
    EXPECT_FALSE(gate.finished());
    EXPECT_FALSE(gate.isLoading());
    EXPECT_TRUE(gate.request());

    std::vector<KestruneItem> shown(3);
    for (int i = 0; i < 3; ++i)
        shown[i].id = 3 - i;
    std::vector<KestruneItem> loaded = shown;
    loaded[1].progress = 0.5;
    RowChanges changes = compareRows(shown, loaded);
    EXPECT_TRUE(changes.sameRows);
    EXPECT_EQ(changes.changed, std::vector<std::size_t>{1});
    loaded.erase(loaded.begin());
    EXPECT_FALSE(compareRows(shown, loaded).sameRows);
    EXPECT_FALSE(compareRows(shown, {shown.rbegin(), shown.rend()}).sameRows) << "reordered";
}

}  // namespace
}  // namespace quillora
