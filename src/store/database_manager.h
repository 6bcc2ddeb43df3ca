#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/sqlite_handle.h"
#include "store/database_error.h"
#include "store/kestrune_item.h"

namespace quillora {

/// The task store: one SQLite connection to kestrunepublic.db in the application-support folder.
/// Reads run concurrently, writes alone; every operation opens the store first if needed.
class DatabaseManager {
  public:
    static constexpr const char* databaseName = "kestrunepublic.db";

    /// The process-wide store in applicationSupportDirectory().
    static DatabaseManager& shared();

    /// A store whose folder comes from `directory` when it initialises (tests use temp folders).
    explicit DatabaseManager(std::function<std::filesystem::path()> directory);
    ~DatabaseManager();
    DatabaseManager(const DatabaseManager&) = delete;
    DatabaseManager& operator=(const DatabaseManager&) = delete;

    void initializeDatabase();
    void ensureInitialized();
    bool isInitialized() const { return initialized_; }

    std::int64_t insertItem(const KestruneItem& item);
    std::vector<KestruneItem> getAllItems();
    std::vector<KestruneItem> getItemsByStatus(const std::string& status);
    void updateTaskById(std::int64_t id, std::optional<std::string> status,
                        std::optional<double> progress = std::nullopt,
                        std::optional<double> duration = std::nullopt,
                        std::optional<std::string> textlost = std::nullopt,
                        std::optional<std::string> part1 = std::nullopt,
                        std::optional<std::string> part2 = std::nullopt,
                        std::optional<std::int32_t> isrenmingtiao = std::nullopt);
    void updateProgressById(std::int64_t id, double progress);
    void dsupdateSrtAndStatus(const std::string& orderid, std::optional<std::string> srt,
                              std::optional<std::string> status);
    void dsupdateTextLostByOrderId(const std::string& orderid, const std::string& textlost);
    void deleteItemById(std::int64_t id);
    void deleteAllItems();
    void closeDatabase();

  private:
    void createKestruneTable();
    void updateTableSchema();
    void fixIdColumnType();
    void createSubmitDateIndex();
    void requireOrderExists(const std::string& orderid);
    std::vector<KestruneItem> readItems(sqlite3_stmt* statement);

    std::function<std::filesystem::path()> directory_;
    SqliteConnection db_;
    std::atomic<bool> initialized_{false};
    mutable std::shared_mutex databaseQueue_;
};

}  // namespace quillora
