#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <shared_mutex>
#include <string>

#include "platform/sqlite_handle.h"

namespace quillora {

/// The signed-in platform user as stored locally; every field optional.
struct UserData {
    std::optional<std::int64_t> userid;
    std::optional<double> preamount;
    std::optional<std::string> phone;
    std::optional<double> zimu;
    std::optional<double> shijianzhou;
    std::optional<std::int64_t> paytype;
    std::optional<std::string> srtPassword;

    bool operator==(const UserData&) const = default;
};

/// The one-row user store in the documents folder's kestrunepublic.db. Failures are reported
/// only by console lines, never thrown.
class UserManager {
  public:
    /// The process-wide store, created once even under concurrent first calls.
    static UserManager& shared();

    /// A store on an explicit database file (tests).
    explicit UserManager(const std::filesystem::path& databaseFile);
    ~UserManager();
    UserManager(const UserManager&) = delete;
    UserManager& operator=(const UserManager&) = delete;

    void saveUser(const UserData& user);
    std::optional<UserData> getUser();
    void updatePreamount(double preamount);

  private:
    SqliteConnection db_;
    mutable std::shared_mutex databaseQueue_;
};

}  // namespace quillora
