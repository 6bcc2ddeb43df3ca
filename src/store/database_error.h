#pragma once

#include <string>

#include "platform/error.h"

namespace quillora {

/// A failed task-store operation; carries SQLite's own message.
class DatabaseError : public Error {
  public:
    enum class Kind {
        connectionFailed,
        tableCreationFailed,
        insertFailed,
        queryFailed,
        updateFailed,
        deleteFailed
    };

    DatabaseError(Kind kind, std::string message);

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }

    static DatabaseError connectionFailed(std::string m) {
        return {Kind::connectionFailed, std::move(m)};
    }
    static DatabaseError tableCreationFailed(std::string m) {
        return {Kind::tableCreationFailed, std::move(m)};
    }
    static DatabaseError insertFailed(std::string m) { return {Kind::insertFailed, std::move(m)}; }
    static DatabaseError queryFailed(std::string m) { return {Kind::queryFailed, std::move(m)}; }
    static DatabaseError updateFailed(std::string m) { return {Kind::updateFailed, std::move(m)}; }
    static DatabaseError deleteFailed(std::string m) { return {Kind::deleteFailed, std::move(m)}; }

  private:
    Kind kind_;
    std::string message_;
};

}  // namespace quillora
