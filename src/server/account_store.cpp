#include "server/account_store.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <cmath>

#include "text/unicode.h"

namespace quillora::server {
namespace {

constexpr int kIterations = 20000;

std::string toHex(const unsigned char* bytes, size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

std::string derive(const std::string& password, const std::string& salt, int iterations) {
    unsigned char key[32];
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(), sizeof key,
                          key) != 1) {
        throw AccountStoreError("密码散列失败");
    }
    return toHex(key, sizeof key);
}

// Money is kept in whole cents so that repeated charges never drift.
std::int64_t toCents(double amount) {
    return std::llround(amount * 100.0);
}
double fromCents(std::int64_t cents) {
    return static_cast<double>(cents) / 100.0;
}

AccountStoreError databaseError(const std::string& message) {
    return AccountStoreError("账户数据库错误: " + message);
}

}  // namespace

std::string hashPassword(const std::string& password) {
    unsigned char salt[16];
    if (RAND_bytes(salt, sizeof salt) != 1) throw AccountStoreError("无法生成随机盐");
    const std::string saltText(reinterpret_cast<const char*>(salt), sizeof salt);
    return "pbkdf2-sha256$" + std::to_string(kIterations) + "$" + toHex(salt, sizeof salt) + "$" +
           derive(password, saltText, kIterations);
}

bool verifyPassword(const std::string& password, const std::string& stored) {
    const size_t a = stored.find('$');
    const size_t b = a == std::string::npos ? a : stored.find('$', a + 1);
    const size_t c = b == std::string::npos ? b : stored.find('$', b + 1);
    if (c == std::string::npos || stored.substr(0, a) != "pbkdf2-sha256") return false;
    int iterations = 0;
    try {
        iterations = std::stoi(stored.substr(a + 1, b - a - 1));
    } catch (const std::exception&) {
        return false;
    }
    if (iterations <= 0) return false;
    const std::string expected = stored.substr(c + 1);
    const std::string actual =
        derive(password, fromHex(stored.substr(b + 1, c - b - 1)), iterations);
    return expected.size() == actual.size() &&
           CRYPTO_memcmp(expected.data(), actual.data(), actual.size()) == 0;
}

bool isAcceptableAccountName(const std::string& name) {
    if (name.empty() || !isValidUtf8(name)) return false;
    for (const char32_t c : codePoints(name)) {
        if (isControl(c)) return false;
    }
    return true;
}

AccountStore::AccountStore(const std::filesystem::path& databaseFile)
    : decoyHash_(hashPassword("decoy")) {
    std::filesystem::create_directories(databaseFile.parent_path());
    try {
        db_ = openPrivateDatabase(databaseFile);  // it holds password hashes
    } catch (const SqliteError& error) {
        throw AccountStoreError("无法打开账户数据库: " + error.message());
    }
    if (auto error =
            executeSql(db_.get(),
                       "CREATE TABLE IF NOT EXISTS accounts ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " name TEXT NOT NULL UNIQUE,"
                       " password_hash TEXT NOT NULL,"
                       " balance_cents INTEGER NOT NULL DEFAULT 0 CHECK (balance_cents >= 0),"
                       " zimu REAL NOT NULL DEFAULT 1.0,"
                       " shijianzhou REAL NOT NULL DEFAULT 1.0,"
                       " paytype INTEGER NOT NULL DEFAULT 0,"
                       " phone TEXT NOT NULL DEFAULT '',"
                       " created_at TEXT NOT NULL DEFAULT (datetime('now')));"
                       "CREATE TABLE IF NOT EXISTS ledger ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id),"
                       " amount_cents INTEGER NOT NULL,"
                       " before_cents INTEGER NOT NULL,"
                       " after_cents INTEGER NOT NULL,"
                       " created_at TEXT NOT NULL DEFAULT (datetime('now')));")) {
        throw databaseError(*error);
    }
}

Account AccountStore::addAccount(const NewAccount& account) {
    if (account.name.empty()) throw AccountStoreError("用户名不能为空");
    if (!isAcceptableAccountName(account.name)) {
        throw AccountStoreError("用户名必须是不含控制字符的 UTF-8 文本");
    }
    if (account.password.empty()) throw AccountStoreError("密码不能为空");
    if (!(account.balance >= 0) || !std::isfinite(account.balance)) {
        throw AccountStoreError("余额必须是非负数");
    }
    const std::string hash = hashPassword(account.password);
    std::lock_guard lock(mutex_);
    SqliteStatement statement = prepareOrThrow(
        db_.get(),
        "INSERT INTO accounts (name, password_hash, balance_cents, zimu, shijianzhou, paytype,"
        " phone) VALUES (?, ?, ?, ?, ?, ?, ?);",
        databaseError);
    bindText(statement.get(), 1, account.name);
    bindText(statement.get(), 2, hash);
    sqlite3_bind_int64(statement.get(), 3, toCents(account.balance));
    sqlite3_bind_double(statement.get(), 4, account.zimu);
    sqlite3_bind_double(statement.get(), 5, account.shijianzhou);
    sqlite3_bind_int64(statement.get(), 6, account.paytype);
    bindText(statement.get(), 7, account.phone);
    if (const int status = sqlite3_step(statement.get()); status != SQLITE_DONE) {
        if (sqlite3_extended_errcode(db_.get()) == SQLITE_CONSTRAINT_UNIQUE) {
            throw AccountStoreError("用户 " + account.name + " 已存在");
        }
        throw AccountStoreError("无法添加用户 " + account.name + ": " +
                                sqliteErrorMessage(db_.get()));
    }
    Account added;
    added.id = sqlite3_last_insert_rowid(db_.get());
    added.name = account.name;
    added.balance = fromCents(toCents(account.balance));
    added.zimu = account.zimu;
    added.shijianzhou = account.shijianzhou;
    added.paytype = account.paytype;
    added.phone = account.phone;
    return added;
}

namespace {
constexpr const char* kAccountColumns =
    "SELECT id, name, balance_cents, zimu, shijianzhou, paytype, phone, password_hash "
    "FROM accounts ";

Account readAccount(sqlite3_stmt* statement) {
    Account account;
    account.id = sqlite3_column_int64(statement, 0);
    account.name = columnText(statement, 1);
    account.balance = fromCents(sqlite3_column_int64(statement, 2));
    account.zimu = sqlite3_column_double(statement, 3);
    account.shijianzhou = sqlite3_column_double(statement, 4);
    account.paytype = sqlite3_column_int64(statement, 5);
    account.phone = columnText(statement, 6);
    return account;
}
}  // namespace

std::vector<Account> AccountStore::listAccounts() {
    std::lock_guard lock(mutex_);
    SqliteStatement statement =
        prepareOrThrow(db_.get(), std::string(kAccountColumns) + "ORDER BY id;", databaseError);
    std::vector<Account> accounts;
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        accounts.push_back(readAccount(statement.get()));
    return accounts;
}

std::optional<std::pair<Account, std::string>> AccountStore::loadWhere(const std::string& condition,
                                                                       const std::string& textValue,
                                                                       std::int64_t intValue) {
    std::lock_guard lock(mutex_);
    SqliteStatement statement = prepareOrThrow(
        db_.get(), std::string(kAccountColumns) + "WHERE " + condition + ";", databaseError);
    if (condition.find("name") != std::string::npos) {
        bindText(statement.get(), 1, textValue);
    } else {
        sqlite3_bind_int64(statement.get(), 1, intValue);
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
    return std::make_pair(readAccount(statement.get()), columnText(statement.get(), 7));
}

std::optional<Account> AccountStore::findByName(const std::string& name) {
    auto found = loadWhere("name = ?", name, 0);
    if (!found) return std::nullopt;
    return found->first;
}

std::optional<Account> AccountStore::authenticate(const std::string& name,
                                                  const std::string& password) {
    auto found = isAcceptableAccountName(name) ? loadWhere("name = ?", name, 0) : std::nullopt;
    if (!found) {
        verifyPassword(password, decoyHash_);
        return std::nullopt;
    }
    if (!verifyPassword(password, found->second)) return std::nullopt;
    return found->first;
}

std::optional<Account> AccountStore::authenticateId(std::int64_t id, const std::string& password) {
    auto found = loadWhere("id = ?", {}, id);
    if (!found) {
        verifyPassword(password, decoyHash_);
        return std::nullopt;
    }
    if (!verifyPassword(password, found->second)) return std::nullopt;
    return found->first;
}

Account AccountStore::topUp(const std::string& name, double amount) {
    if (!std::isfinite(amount) || amount <= 0) throw AccountStoreError("充值金额必须是正数");
    {
        std::lock_guard lock(mutex_);
        SqliteStatement statement = prepareOrThrow(
            db_.get(), "UPDATE accounts SET balance_cents = balance_cents + ? WHERE name = ?;",
            databaseError);
        sqlite3_bind_int64(statement.get(), 1, toCents(amount));
        bindText(statement.get(), 2, name);
        if (sqlite3_step(statement.get()) != SQLITE_DONE) {
            throw AccountStoreError("充值失败: " + sqliteErrorMessage(db_.get()));
        }
        if (sqlite3_changes(db_.get()) < 1) throw AccountStoreError("没有这个用户: " + name);
    }
    return *findByName(name);
}

ChargeResult AccountStore::charge(std::int64_t accountId, double amount) {
    const std::int64_t cents = toCents(amount);
    std::lock_guard lock(mutex_);
    ChargeResult result;
    try {
        Transaction transaction(db_.get());
        SqliteStatement read = prepareOrThrow(
            db_.get(), "SELECT balance_cents FROM accounts WHERE id = ?;", databaseError);
        sqlite3_bind_int64(read.get(), 1, accountId);
        if (sqlite3_step(read.get()) != SQLITE_ROW) return result;
        const std::int64_t before = sqlite3_column_int64(read.get(), 0);
        result.before = fromCents(before);
        if (before < cents) {
            result.kind = ChargeResult::Kind::insufficientBalance;
            result.after = result.before;
            return result;
        }
        SqliteStatement update = prepareOrThrow(
            db_.get(), "UPDATE accounts SET balance_cents = ? WHERE id = ?;", databaseError);
        SqliteStatement ledger = prepareOrThrow(
            db_.get(),
            "INSERT INTO ledger (account_id, amount_cents, before_cents, after_cents)"
            " VALUES (?, ?, ?, ?);",
            databaseError);
        sqlite3_bind_int64(update.get(), 1, before - cents);
        sqlite3_bind_int64(update.get(), 2, accountId);
        sqlite3_bind_int64(ledger.get(), 1, accountId);
        sqlite3_bind_int64(ledger.get(), 2, cents);
        sqlite3_bind_int64(ledger.get(), 3, before);
        sqlite3_bind_int64(ledger.get(), 4, before - cents);
        if (sqlite3_step(update.get()) != SQLITE_DONE ||
            sqlite3_step(ledger.get()) != SQLITE_DONE) {
            throw AccountStoreError("扣费失败: " + sqliteErrorMessage(db_.get()));
        }
        read.reset();  // a statement still reading would hold the commit back
        transaction.commit();
        result.kind = ChargeResult::Kind::charged;
        result.charged = fromCents(cents);
        result.after = fromCents(before - cents);
        return result;
    } catch (const SqliteError& error) {
        throw databaseError(error.message());
    }
}

std::int64_t AccountStore::ledgerCount(std::int64_t accountId) {
    std::lock_guard lock(mutex_);
    SqliteStatement statement = prepareOrThrow(
        db_.get(), "SELECT COUNT(*) FROM ledger WHERE account_id = ?;", databaseError);
    sqlite3_bind_int64(statement.get(), 1, accountId);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return 0;
    return sqlite3_column_int64(statement.get(), 0);
}

}  // namespace quillora::server
