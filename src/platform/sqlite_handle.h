#pragma once

#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace quillora {

struct SqliteCloser {
    void operator()(sqlite3* db) const;
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};

/// Owns a connection: closed when released.
using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;
/// Owns a prepared statement: finalised on every path.
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

/// Prepares `sql`; an empty handle means failure (the connection's error message tells why).
SqliteStatement prepareStatement(sqlite3* db, const std::string& sql);

/// The connection's current error message, or "数据库连接无效" for no connection.
std::string sqliteErrorMessage(sqlite3* db);

}  // namespace quillora
