// Times the task store's listing with and without the submitDate index at 100,000 rows, and the
// store's own insert path.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/console.h"
#include "store/database_manager.h"

namespace {
namespace fs = std::filesystem;
using quillora::DatabaseManager;
using quillora::KestruneItem;
using Clock = std::chrono::steady_clock;

double medianMilliseconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

KestruneItem benchItem(int i) {
    return KestruneItem(
        0, "ORDER" + std::to_string(i), "TASK" + std::to_string(i), "001",
        "/scripts/" + std::to_string(i) + ".txt", "/media/" + std::to_string(i) + ".mp4", 3,
        KestruneItem::Date(std::chrono::seconds(1'600'000'000 + (i * 7919) % 100000)), "处理成功",
        1, "local", "", "", "12", 0, "", "", "", "1\n00:00:01,000 --> 00:00:02,000\n字幕\n", 0,
        false, false, "");
}

void execute(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
        sqlite3_free(error);
        std::exit(1);
    }
}

}  // namespace

int main() {
    quillora::setConsoleSink([](std::string_view) {});  // the store's console lines are noise here
    char pattern[] = "/tmp/quillora-store-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    DatabaseManager store([&] { return dir; });

    const int inserts = 10000;
    const auto insertStart = Clock::now();
    for (int i = 0; i < inserts; ++i)
        store.insertItem(benchItem(i));
    const double insertSeconds = std::chrono::duration<double>(Clock::now() - insertStart).count();

    // The remaining rows go in through one transaction: the point is the listing, not the fill.
    sqlite3* raw = nullptr;
    sqlite3_open((dir / DatabaseManager::databaseName).c_str(), &raw);
    sqlite3_busy_timeout(raw, 5000);
    execute(raw, "BEGIN;");
    execute(raw,
            "WITH RECURSIVE n(i) AS (SELECT 10000 UNION ALL SELECT i + 1 FROM n WHERE i < 99999) "
            "INSERT INTO kestrune (orderid, taskid, userid, textFilePath, movieFilePath, duration, "
            "submitDate, status, progress, username, textlost, srt) SELECT 'ORDER' || i, 'TASK' || "
            "i, '001', '/scripts/' || i || '.txt', '/media/' || i || '.mp4', 3, 1600000000 + "
            "(i * 7919) % 100000, '处理成功', 1, 'local', '12', 'srt' FROM n;");
    execute(raw, "COMMIT;");

    const int runs = 25;
    const double indexed = medianMilliseconds(runs, [&] { store.getAllItems(); });
    execute(raw, "DROP INDEX kestrune_submitDate;");
    const double unindexed = medianMilliseconds(runs, [&] { store.getAllItems(); });
    sqlite3_close(raw);
    store.closeDatabase();
    fs::remove_all(dir);

    std::printf("store_bench: task store, 100,000 rows\n");
    std::printf("  getAllItems (100 newest), with submitDate index:    %8.3f ms (median of %d)\n",
                indexed, runs);
    std::printf("  getAllItems (100 newest), without index:            %8.3f ms (median of %d)\n",
                unindexed, runs);
    std::printf("  index speed-up:                                     %8.1fx\n",
                unindexed / indexed);
    std::printf("  insertItem, %d single-row transactions:          %8.3f s (%.3f ms each)\n",
                inserts, insertSeconds, insertSeconds * 1000 / inserts);
    std::printf("  target: getAllItems under 2 ms at 100,000 rows: %s\n",
                indexed < 2.0 ? "met" : "MISSED");
    return 0;
}
