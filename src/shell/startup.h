#pragma once

#include <functional>

namespace quillora {

class DatabaseManager;

/// What runs when the window is first shown: opens the task store and, when that works, starts
/// the result poller. A failure prints "数据库初始化失败: " and leaves the poller stopped (store
/// operations retry the opening later). Blocking; returns whether the store opened.
bool startUp(DatabaseManager& database, const std::function<void()>& startPoller);

}  // namespace quillora
