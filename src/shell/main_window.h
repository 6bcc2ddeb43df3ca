#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillora {

/// The screens the main window's detail area can show.
enum class Screen {
    dashboard,       ///< the task dashboard
    converter,       ///< the batch converter
    lineCounter,     ///< the per-line character counter
    srtToFcpxml,     ///< SRT to FCPXML
    srtToColumns,    ///< SRT to column text
    videoToSrt,      ///< burned-in subtitle extraction
    profile,         ///< the stored platform user
    settings,        ///< application settings
    users,           ///< the signed-in user overview
    dataManagement,  ///< the secondary dashboard, for any unlisted route
};

/// One labelled sidebar item.
struct SidebarEntry {
    std::string_view label;
    std::string_view route;
    Screen screen;
};

/// One titled group of sidebar items.
struct SidebarSection {
    std::string_view title;
    std::vector<SidebarEntry> entries;
};

/// The sidebar: three sections, nine entries, in display order.
const std::vector<SidebarSection>& sidebarSections();

/// The screen shown for a route; routes the sidebar does not list show the data management screen.
Screen screenForRoute(std::string_view route);

/// The detail area's title for a route.
std::string_view navigationTitle(std::string_view route);

/// The toolbar greeting: "欢迎: " and the user name, or "用户" when there is none.
std::string welcomeText(const std::optional<std::string>& currentUser);

/// The main window's selected screen across sign-in changes.
struct MainWindowState {
    static constexpr std::string_view kHomeRoute = "/dashboard";

    std::string selectedRoute{kHomeRoute};
    bool isSidebarVisible = true;
    bool showDebugPanel = false;

    /// The signed-in content became visible.
    void contentShown() { selectedRoute = kHomeRoute; }
    /// The sign-in state changed; a sign-out clears the route so the next sign-in opens at home.
    void authenticationChanged(bool isAuthenticated);
};

}  // namespace quillora
