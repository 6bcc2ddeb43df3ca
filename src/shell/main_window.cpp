#include "shell/main_window.h"

namespace quillora {

const std::vector<SidebarSection>& sidebarSections() {
    static const std::vector<SidebarSection> sections{
        {"主要功能", {{"时间轴", "/dashboard", Screen::dashboard}}},
        {"工具",
         {{"格式转换", "/encoding", Screen::converter},
          {"查字数", "/txt-counter", Screen::lineCounter},
          {"SRT转FCPxml", "/srt-to-fcp", Screen::srtToFcpxml},
          {"SRT转文本", "/srt-to-column", Screen::srtToColumns},
          {"视频扒字幕", "/video-to-srt", Screen::videoToSrt}}},
        {"管理",
         {{"个人信息", "/profile", Screen::profile},
          {"设置", "/settings", Screen::settings},
          {"用户管理", "/users", Screen::users}}},
    };
    return sections;
}

Screen screenForRoute(std::string_view route) {
    for (const SidebarSection& section : sidebarSections()) {
        for (const SidebarEntry& entry : section.entries) {
            if (entry.route == route) return entry.screen;
        }
    }
    return Screen::dataManagement;
}

std::string_view navigationTitle(std::string_view route) {
    struct Title {
        std::string_view route;
        std::string_view title;
    };
    static constexpr Title titles[] = {
        {"/dashboard", "视频扒字幕"},
        {"/kestrune-table", "砚篁数据表"},
        {"/srt-list", "SRT列表"},
        {"/encoding", "转码"},
        {"/txt-counter", "查字数"},
        {"/srt-to-fcp", "SRT转FCPxml"},
        {"/srt-to-column", "SRT转列显示文本"},
        {"/profile", "个人资料"},
        {"/settings", "设置"},
        {"/users", "用户管理"},
    };
    for (const Title& title : titles) {
        if (title.route == route) return title.title;
    }
    return "视频扒字幕";
}

std::string welcomeText(const std::optional<std::string>& currentUser) {
    return "欢迎: " + currentUser.value_or("用户");
}

void MainWindowState::authenticationChanged(bool isAuthenticated) {
    if (!isAuthenticated) selectedRoute = kHomeRoute;
}

}  // namespace quillora
