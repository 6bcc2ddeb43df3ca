#include "platform/sqlite_handle.h"

#include <sqlite3.h>

namespace quillora {

void SqliteCloser::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

void SqliteFinalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

SqliteStatement prepareStatement(sqlite3* db, const std::string& sql) {
    if (!db) return SqliteStatement();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return SqliteStatement();
    }
    return SqliteStatement(raw);
}

std::string sqliteErrorMessage(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "数据库连接无效";
}

}  // namespace quillora
