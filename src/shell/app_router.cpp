#include "shell/app_router.h"

#include <algorithm>

#include "service/user_session.h"

namespace quillora {

namespace {

std::map<std::string, AppRoute> registry() {
    const AppRoute routes[] = {
        {"/", false, "主页", "应用主界面", "house", 0},
        {"/login", false, "登录", "用户登录界面", "person.circle", -1},
        {"/dashboard", true, "视频扒字幕", "字幕数据库管理", "chart.bar", 1},
        {"/settings", true, "设置", "应用设置", "gear", 2},
        {"/users", true, "用户管理", "用户账户管理", "person.2", 3},
    };
    std::map<std::string, AppRoute> byPath;
    for (const AppRoute& route : routes)
        byPath.emplace(route.path, route);
    return byPath;
}

}  // namespace

AppRouter& AppRouter::shared() {
    static AppRouter router(UserAuthManager::shared());
    return router;
}

AppRouter::AppRouter(const UserAuthManager& auth) : auth_(auth), routes_(registry()) {}

std::vector<AppRoute> AppRouter::sidebarRoutes() const {
    std::vector<AppRoute> listed;
    for (const auto& [path, route] : routes_) {
        if (route.sidebarOrder >= 0) listed.push_back(route);
    }
    std::stable_sort(listed.begin(), listed.end(), [](const AppRoute& a, const AppRoute& b) {
        return a.sidebarOrder < b.sidebarOrder;
    });
    return listed;
}

std::optional<AppRoute> AppRouter::getCurrentRoute() const {
    const auto found = routes_.find(currentRoute);
    if (found == routes_.end()) return std::nullopt;
    return found->second;
}

bool AppRouter::canNavigateTo(const std::string& path) const {
    const auto found = routes_.find(path);
    if (found == routes_.end()) return false;
    if (!found->second.requireAuth) return true;
    return auth_.isAuthenticated();
}

}  // namespace quillora
