#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/sqlite_handle.h"

namespace quillora::server {

/// A platform account as the server keeps it (the password only as a salted hash).
struct Account {
    std::int64_t id = 0;
    std::string name;
    double balance = 0;
    double zimu = 0;
    double shijianzhou = 0;
    std::int64_t paytype = 0;
    std::string phone;
};

/// Settings of a new account.
struct NewAccount {
    std::string name;
    std::string password;
    double balance = 0;
    double zimu = 1.0;
    double shijianzhou = 1.0;
    std::int64_t paytype = 0;
    std::string phone;
};

/// The result of one charge.
struct ChargeResult {
    enum class Kind { charged, insufficientBalance, unknownAccount };
    Kind kind = Kind::unknownAccount;
    double before = 0;
    double charged = 0;
    double after = 0;
};

/// A failed account-database operation (open, schema, duplicate name...).
class AccountStoreError : public Error {
  public:
    using Error::Error;
};

/// The accounts and the charge ledger in the server's own SQLite file. Thread-safe; a charge
/// is one transaction, so concurrent charges can never spend the same balance twice.
class AccountStore {
  public:
    explicit AccountStore(const std::filesystem::path& databaseFile);

    Account addAccount(const NewAccount& account);
    std::vector<Account> listAccounts();
    std::optional<Account> findByName(const std::string& name);
    /// Adds `amount` to the named account's balance; returns the account after it.
    Account topUp(const std::string& name, double amount);

    /// The account when the name exists and the password matches.
    std::optional<Account> authenticate(const std::string& name, const std::string& password);
    /// The account when the id exists and the password matches.
    std::optional<Account> authenticateId(std::int64_t id, const std::string& password);

    /// Takes `amount` from the account's balance unless that would make it negative;
    /// every charge made is written to the ledger.
    ChargeResult charge(std::int64_t accountId, double amount);

    /// Number of ledger rows of an account.
    std::int64_t ledgerCount(std::int64_t accountId);

  private:
    std::optional<std::pair<Account, std::string>> loadWhere(const std::string& condition,
                                                             const std::string& textValue,
                                                             std::int64_t intValue);

    std::mutex mutex_;
    SqliteConnection db_;
    /// Checked against when no account matches, so that an unknown name costs the same
    /// hashing work as a wrong password and timing does not tell which names exist.
    std::string decoyHash_;
};

/// True when a name may be an account name: non-empty UTF-8 without control characters.
bool isAcceptableAccountName(const std::string& name);

/// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" of a password with a fresh salt.
std::string hashPassword(const std::string& password);
/// True when the password matches a value made by hashPassword.
bool verifyPassword(const std::string& password, const std::string& stored);

}  // namespace quillora::server
