#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillora {

class UserAuthManager;

/// One registered screen path with its sign-in guard and sidebar position.
struct AppRoute {
    std::string path;
    bool requireAuth = false;
    std::string title;
    std::string description;
    std::string icon;
    int sidebarOrder = -1;  ///< negative: not listed

    bool operator==(const AppRoute&) const = default;
};

/// The route registry with its sign-in guard.
class AppRouter {
  public:
    static AppRouter& shared();

    explicit AppRouter(const UserAuthManager& auth);

    std::string currentRoute = "/";
    bool isNavigating = false;

    const std::map<std::string, AppRoute>& routes() const { return routes_; }

    /// Routes with a sidebar position of 0 or more, by position (stable).
    std::vector<AppRoute> sidebarRoutes() const;
    /// The route of currentRoute; nothing when that path is not registered.
    std::optional<AppRoute> getCurrentRoute() const;
    /// Registered, and either open to everyone or the user is signed in.
    bool canNavigateTo(const std::string& path) const;

  private:
    const UserAuthManager& auth_;
    std::map<std::string, AppRoute> routes_;
};

}  // namespace quillora
