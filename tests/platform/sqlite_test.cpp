#include "platform/sqlite_handle.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "support/temp_home.h"

namespace quillora {
namespace {

std::vector<std::string> names(sqlite3* db) {
    std::vector<std::string> found;
    SqliteStatement query = prepareStatement(db, "SELECT name FROM t ORDER BY rowid;");
    while (query && sqlite3_step(query.get()) == SQLITE_ROW)
        found.push_back(columnText(query.get(), 0));
    return found;
}

TEST(Sqlite, PrivateDatabaseTransactionsAndTextWithItsLength) {
    testing::TempDir dir;
    SqliteConnection db = openPrivateDatabase(dir / "a.db");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "a.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_THROW(openPrivateDatabase(dir / "a.db" / "b.db"), SqliteError);

    ASSERT_EQ(executeSql(db.get(), "CREATE TABLE t (name TEXT);"), std::nullopt);
    auto insert = [&](std::string_view name) {
        SqliteStatement statement = prepareStatement(db.get(), "INSERT INTO t VALUES (?);");
        bindText(statement.get(), 1, name);
        ASSERT_EQ(sqlite3_step(statement.get()), SQLITE_DONE);
    };
    {
        Transaction kept(db.get());
        insert(std::string_view("alice\0junk", 10));  // the NUL byte stays part of the value
        kept.commit();
    }
    {
        Transaction dropped(db.get());
        insert("bob");
        // A second BEGIN inside the first fails and leaves the first untouched.
        EXPECT_THROW(Transaction(db.get()), SqliteError);
    }
    EXPECT_EQ(names(db.get()), std::vector<std::string>{std::string("alice\0junk", 10)});
    EXPECT_THROW(Transaction(nullptr), SqliteError);
    EXPECT_TRUE(executeSql(db.get(), "NOT SQL;"));
    EXPECT_THROW(
        prepareOrThrow(db.get(), "NOT SQL;", [](const std::string& m) { return Error(m); }), Error);
    EXPECT_TRUE(closeConnection(db));
    EXPECT_FALSE(db);
}

TEST(Sqlite, DeclaredColumnTypesAreReadAsWritten) {
    testing::TempDir dir;
    SqliteConnection db = openPrivateDatabase(dir / "a.db");
    ASSERT_EQ(executeSql(db.get(),
                         "CREATE TABLE \"k, (x)\" (id integer PRIMARY KEY, \"b c\" varchar(10) "
                         "NOT NULL, [d], e Double Precision DEFAULT (1 + 2), CONSTRAINT u UNIQUE "
                         "(e));"),
              std::nullopt);
    for (const auto& [column, type] : std::vector<std::pair<std::string, std::string>>{
             {"id", "integer"}, {"b c", "varchar(10)"}, {"d", ""}, {"e", "Double Precision"}})
        EXPECT_EQ(declaredColumnType(db.get(), "k, (x)", column), type) << column;
    EXPECT_EQ(declaredColumnType(db.get(), "k, (x)", "u"), std::nullopt);
    EXPECT_EQ(declaredColumnType(db.get(), "missing", "id"), std::nullopt);
}

}  // namespace
}  // namespace quillora
