#include "platform/sqlite_handle.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <vector>

namespace quillora {
namespace {

constexpr int kBusyTimeoutMs = 5000;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

char closingQuote(char open) {
    switch (open) {
        case '\'':
        case '"':
        case '`':
            return open;
        case '[':
            return ']';
        default:
            return 0;
    }
}

// The index just past the quoted run that starts at `start` (doubled quotes stay inside).
std::size_t skipQuoted(std::string_view sql, std::size_t start) {
    const char close = closingQuote(sql[start]);
    std::size_t i = start + 1;
    while (i < sql.size()) {
        if (sql[i] == close) {
            if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return sql.size();
}

// The comma-separated definitions inside the outermost parentheses of a CREATE TABLE.
std::vector<std::string_view> columnDefinitions(std::string_view sql) {
    std::vector<std::string_view> definitions;
    std::size_t i = 0;
    while (i < sql.size() && sql[i] != '(')
        i = closingQuote(sql[i]) ? skipQuoted(sql, i) : i + 1;
    int depth = 0;
    std::size_t start = i + 1;
    for (; i < sql.size(); ++i) {
        if (closingQuote(sql[i])) {
            i = skipQuoted(sql, i) - 1;
        } else if (sql[i] == '(') {
            ++depth;
        } else if (sql[i] == ')' && --depth == 0) {
            definitions.push_back(sql.substr(start, i - start));
            break;
        } else if (sql[i] == ',' && depth == 1) {
            definitions.push_back(sql.substr(start, i - start));
            start = i + 1;
        }
    }
    return definitions;
}

// Words of one definition; a quoted name and a parenthesised group are one word each.
std::vector<std::string_view> words(std::string_view definition) {
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < definition.size()) {
        if (std::isspace(static_cast<unsigned char>(definition[i]))) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        if (closingQuote(definition[i])) {
            i = skipQuoted(definition, i);
        } else if (definition[i] == '(') {
            for (int depth = 0; i < definition.size(); ++i) {
                if (definition[i] == '(') ++depth;
                if (definition[i] == ')' && --depth == 0) {
                    ++i;
                    break;
                }
            }
        } else {
            while (i < definition.size() &&
                   !std::isspace(static_cast<unsigned char>(definition[i])) && definition[i] != '(')
                ++i;
        }
        result.push_back(definition.substr(start, i - start));
    }
    return result;
}

std::string_view unquoted(std::string_view word) {
    if (word.size() >= 2 && closingQuote(word.front()) == word.back()) {
        return word.substr(1, word.size() - 2);
    }
    return word;
}

bool startsConstraint(std::string_view word) {
    static constexpr std::array<std::string_view, 11> keywords = {
        "CONSTRAINT", "PRIMARY", "NOT",        "NULL",      "UNIQUE", "CHECK",
        "DEFAULT",    "COLLATE", "REFERENCES", "GENERATED", "AS"};
    for (std::string_view keyword : keywords) {
        if (equalsIgnoringCase(word, keyword)) return true;
    }
    return false;
}

}  // namespace

void SqliteCloser::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

void SqliteFinalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

SqliteConnection openPrivateDatabase(const std::filesystem::path& file) {
    // Owner-only from the first byte: the stores hold passwords and private paths.
    if (const int fd = ::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600); fd >= 0) {
        ::close(fd);
    }
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open(file.c_str(), &raw);
    SqliteConnection connection(raw);
    if (opened != SQLITE_OK) throw SqliteError(sqliteErrorMessage(raw));
    sqlite3_busy_timeout(connection.get(), kBusyTimeoutMs);
    return connection;
}

bool closeConnection(SqliteConnection& connection) {
    return sqlite3_close_v2(connection.release()) == SQLITE_OK;
}

SqliteStatement prepareStatement(sqlite3* db, std::string_view sql) {
    if (!db) return SqliteStatement();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(raw);
        return SqliteStatement();
    }
    return SqliteStatement(raw);
}

std::optional<std::string> executeSql(sqlite3* db, const std::string& sql) {
    if (!db) return sqliteErrorMessage(db);
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
        return std::nullopt;
    }
    std::string text = message ? message : sqliteErrorMessage(db);
    sqlite3_free(message);
    return text;
}

std::string sqliteErrorMessage(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "数据库连接无效";
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void bindOptional(sqlite3_stmt* statement, int index, const std::optional<std::int64_t>& value) {
    value ? sqlite3_bind_int64(statement, index, *value) : sqlite3_bind_null(statement, index);
}

void bindOptional(sqlite3_stmt* statement, int index, const std::optional<double>& value) {
    value ? sqlite3_bind_double(statement, index, *value) : sqlite3_bind_null(statement, index);
}

void bindOptional(sqlite3_stmt* statement, int index, const std::optional<std::string>& value) {
    if (value) {
        bindText(statement, index, *value);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

std::string columnText(sqlite3_stmt* statement, int index) {
    return columnOptionalText(statement, index).value_or(std::string());
}

std::optional<std::string> columnOptionalText(sqlite3_stmt* statement, int index) {
    const unsigned char* text = sqlite3_column_text(statement, index);
    if (!text) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

std::optional<std::string> declaredColumnType(sqlite3* db, std::string_view table,
                                              std::string_view column) {
    SqliteStatement query =
        prepareStatement(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?;");
    if (!query) return std::nullopt;
    bindText(query.get(), 1, table);
    if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
    const std::string sql = columnText(query.get(), 0);
    for (std::string_view definition : columnDefinitions(sql)) {
        const auto parts = words(definition);
        if (parts.empty() || unquoted(parts[0]) != column) continue;
        std::string type;
        for (std::size_t i = 1; i < parts.size() && !startsConstraint(parts[i]); ++i) {
            if (!type.empty() && parts[i].front() != '(') type += ' ';
            type += parts[i];
        }
        return type;
    }
    return std::nullopt;
}

Transaction::Transaction(sqlite3* db) : db_(db) {
    if (auto error = executeSql(db_, "BEGIN IMMEDIATE;")) throw SqliteError(*error);
}

Transaction::~Transaction() {
    if (open_) executeSql(db_, "ROLLBACK;");
}

void Transaction::commit() {
    if (auto error = executeSql(db_, "COMMIT;")) throw SqliteError(*error);
    open_ = false;
}

}  // namespace quillora
