#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "store/kestrune_item.h"

namespace quillora {

/// An installed desktop application, known by its desktop entry.
struct DesktopApplication {
    std::string name;
    std::filesystem::path entry;
    std::string exec;  ///< the entry's Exec line

    bool operator==(const DesktopApplication&) const = default;
};

/// The Name and Exec of a desktop entry's [Desktop Entry] group; nothing when the file cannot be
/// read or is not a visible application entry.
std::optional<DesktopApplication> readDesktopEntry(const std::filesystem::path& file);

/// The program and arguments that open `file` with the application: the Exec line split with
/// its quoting rules, %f/%F as the path, %u/%U as its file URL, %c the name, %k the entry, %%
/// a percent sign, other field codes dropped; the path is appended when no file code is present.
std::vector<std::string> launchCommand(const DesktopApplication& application,
                                       const std::filesystem::path& file);

/// The desktop entries at the top of `directories` whose name contains "Premiere", in folder
/// order. A folder that cannot be listed prints "查找Premiere应用程序失败: " and is skipped.
std::vector<DesktopApplication> findPremiereApps(
    const std::vector<std::filesystem::path>& directories);

/// What the hand-off asks of the desktop; the GUI implements it, tests observe it.
class Desktop {
  public:
    virtual ~Desktop() = default;
    /// Shows the file selected in a file manager window.
    virtual void revealFile(const std::filesystem::path& file) = 0;
    virtual void openWithDefaultApplication(const std::filesystem::path& file) = 0;
    virtual void openWithApplication(const std::filesystem::path& file,
                                     const DesktopApplication& application) = 0;
    /// "未找到Adobe Premiere" with "请确保已安装Adobe Premiere软件" and "确定"; returns when
    /// closed.
    virtual void showNoPremiereAlert() = 0;
    /// "选择Adobe Premiere版本": one of the candidates, or nothing when cancelled.
    virtual std::optional<DesktopApplication> choosePremiereApplication(
        const std::vector<DesktopApplication>& candidates) = 0;
};

/// A picture format of the Premiere submenu.
struct PremiereFormat {
    std::string_view label;
    int fps;
    int width;
    int height;
};
inline constexpr std::array<PremiereFormat, 4> kPremiereFormats{{
    {"1. 25fps 1080p", 25, 1920, 1080},
    {"2. 50fps 1080p", 50, 1920, 1080},
    {"3. 25fps 4K", 25, 3840, 2160},
    {"4. 50fps 4K", 50, 3840, 2160},
}};

/// The row menu's hand-off actions.
enum class HandoffAction { showSrtPath, openInFinalCut, openInPremiere };

/// The SRT beside the task's recording (its extension replaced by "srt"), written from the
/// stored subtitle when no file is there yet; an existing file is never overwritten.
std::filesystem::path dosrtofselected(const KestruneItem& task);

/// The documents of one hand-off, made off the GUI thread, and the editors found.
struct HandoffDocuments {
    HandoffAction action = HandoffAction::showSrtPath;
    std::vector<std::filesystem::path> files;  ///< in the order of the rows
    std::optional<std::string> error;          ///< the document that could not be made
    std::vector<DesktopApplication> premiereApps;
};

/// Walks the selected rows in order; a row not "处理成功" prints the action's warning and ends
/// the walk, as does a document that cannot be made. `format` is used by openInPremiere.
HandoffDocuments prepareHandoff(
    HandoffAction action, const std::vector<KestruneItem>& rows,
    const PremiereFormat& format = kPremiereFormats[0],
    const std::vector<std::filesystem::path>& premiereSearchPath = applicationDirectories());

/// Hands the prepared documents to the desktop (on the GUI thread).
void deliverHandoff(const HandoffDocuments& documents, Desktop& desktop);

/// One editor → open with it; none → the alert, then the document is revealed so the user can
/// carry it to an editor; several → the user chooses (cancel opens nothing).
void openWithPremiere(const std::filesystem::path& xml,
                      const std::vector<DesktopApplication>& applications, Desktop& desktop);

}  // namespace quillora
