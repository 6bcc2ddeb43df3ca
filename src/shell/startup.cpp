#include "shell/startup.h"

#include "platform/console.h"
#include "platform/error.h"
#include "store/database_manager.h"

namespace quillora {

bool startUp(DatabaseManager& database, const std::function<void()>& startPoller) {
    try {
        database.initializeDatabase();
    } catch (const std::exception& error) {
        console("数据库初始化失败: " + std::string(error.what()));
        return false;
    }
    startPoller();
    console("数据库初始化成功");
    return true;
}

}  // namespace quillora
