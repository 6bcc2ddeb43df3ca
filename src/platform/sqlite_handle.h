#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/error.h"

struct sqlite3;
struct sqlite3_stmt;

// The one SQLite layer of the product: owned handles, private database files, binding and
// reading helpers, and a transaction guard. Product rules (schemas, messages) stay with the
// stores that use it.
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

/// A failed SQLite call; message() is SQLite's own message.
class SqliteError : public Error {
  public:
    explicit SqliteError(std::string message) : Error(message), message_(std::move(message)) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

/// Opens a database that only its owner may read: the file is created with mode 0600 before
/// SQLite opens it, and the connection waits up to 5 s for another writer. Throws SqliteError.
SqliteConnection openPrivateDatabase(const std::filesystem::path& file);

/// Closes the connection now (the handle is released either way); false when SQLite reports a
/// failure.
bool closeConnection(SqliteConnection& connection);

/// Prepares `sql`; an empty handle means failure (the connection's error message tells why).
SqliteStatement prepareStatement(sqlite3* db, std::string_view sql);

/// Prepares `sql`, or prints `consolePrefix` + SQLite's message (when a prefix is given) and
/// throws `makeError(message)`.
template <typename MakeError>
SqliteStatement prepareOrThrow(sqlite3* db, std::string_view sql, MakeError makeError,
                               std::string_view consolePrefix = {});

/// Runs one or more statements to completion; SQLite's message on failure, nothing on success.
std::optional<std::string> executeSql(sqlite3* db, const std::string& sql);

/// The connection's current error message, or "数据库连接无效" for no connection.
std::string sqliteErrorMessage(sqlite3* db);

/// Binds UTF-8 text with its length (an embedded NUL byte stays part of the value).
void bindText(sqlite3_stmt* statement, int index, std::string_view text);
/// Binds the value, or SQL NULL when there is none.
void bindOptional(sqlite3_stmt* statement, int index, const std::optional<std::int64_t>& value);
void bindOptional(sqlite3_stmt* statement, int index, const std::optional<double>& value);
void bindOptional(sqlite3_stmt* statement, int index, const std::optional<std::string>& value);

/// The column as text; NULL reads as "".
std::string columnText(sqlite3_stmt* statement, int index);
/// The column as text; NULL reads as nothing.
std::optional<std::string> columnOptionalText(sqlite3_stmt* statement, int index);

/// The declared type of a table's column as written in its CREATE statement ("integer" stays
/// lower case, unlike PRAGMA table_info's normalised form); "" when the column has no type,
/// nothing when the table or the column does not exist.
std::optional<std::string> declaredColumnType(sqlite3* db, std::string_view table,
                                              std::string_view column);

/// Holds an immediate transaction: rolled back on destruction unless commit() succeeded.
/// Throws SqliteError when BEGIN or COMMIT fails.
class Transaction {
  public:
    explicit Transaction(sqlite3* db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

  private:
    sqlite3* db_;
    bool open_ = true;
};

template <typename MakeError>
SqliteStatement prepareOrThrow(sqlite3* db, std::string_view sql, MakeError makeError,
                               std::string_view consolePrefix) {
    SqliteStatement statement = prepareStatement(db, sql);
    if (!statement) {
        const std::string message = sqliteErrorMessage(db);
        if (!consolePrefix.empty()) console(std::string(consolePrefix) + message);
        throw makeError(message);
    }
    return statement;
}

}  // namespace quillora
