#include "store/database_error.h"

namespace quillora {
namespace {

std::string describe(DatabaseError::Kind kind, const std::string& message) {
    switch (kind) {
        case DatabaseError::Kind::connectionFailed:
            return "连接数据库失败: " + message;
        case DatabaseError::Kind::tableCreationFailed:
            return "创建表失败: " + message;
        case DatabaseError::Kind::insertFailed:
            return "插入数据失败: " + message;
        case DatabaseError::Kind::queryFailed:
            return "查询失败: " + message;
        case DatabaseError::Kind::updateFailed:
            return "更新失败: " + message;
        case DatabaseError::Kind::deleteFailed:
            return "删除失败: " + message;
    }
    return message;
}

}  // namespace

DatabaseError::DatabaseError(Kind kind, std::string message)
    : Error(describe(kind, message)), kind_(kind), message_(std::move(message)) {}

}  // namespace quillora
