#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/kestrune_item.h"

namespace quillora {

class DatabaseManager;

/// The file types the dashboard's choosers accept, by filename extension.
namespace SupportedFileTypes {
inline constexpr std::array<std::string_view, 5> allText{"txt", "doc", "docx", "rtf", "srt"};
inline constexpr std::array<std::string_view, 5> allMedia{"mp3", "wav", "aiff", "mp4", "mov"};
/// The extension, lower-cased, is one of allText / allMedia.
bool isText(const std::filesystem::path& file);
bool isMedia(const std::filesystem::path& file);
}  // namespace SupportedFileTypes

/// Hands a stored task to the processing queue; returns at once.
using TaskHandOff = std::function<void(const KestruneItem&)>;

/// What adding one task did.
struct AddTaskOutcome {
    std::optional<KestruneItem> task;  ///< the stored record with its id, on success
    std::string resultText;
    std::string errorText;
};

/// Stores a new task for the two files and hands it to processing. Blocking.
AddTaskOutcome addTask(DatabaseManager& database, const std::string& textFilePath,
                       const std::string& mediaFilePath, const TaskHandOff& processTask);

/// The callbacks the task table gives its owner.
enum class TableCallback { deleteSelected, unselectAll, multiselect };

/// The dashboard's form: the two chosen files and the texts under them.
struct DashboardForm {
    std::string selectedTextFilePath;
    std::string selectedMediaFilePath;
    std::string resultText;
    std::string errorText;
    bool isLoading = false;

    /// A chosen script; a media file of the same name beside it is chosen too.
    void chooseTextFile(const std::filesystem::path& file);
    void chooseMediaFile(const std::filesystem::path& file);
    /// Files dropped on the dashboard: scripts and recordings by extension, others ignored.
    /// Returns whether any was taken.
    bool dropFiles(const std::vector<std::filesystem::path>& files);

    bool canAddTask() const;
    /// Takes the outcome of addTask; a success clears both paths.
    void apply(const AddTaskOutcome& outcome);
    /// The table reported one of its actions.
    void note(TableCallback callback);
};

/// The task table's columns, in order.
enum class TaskColumn { tick, id, media, script, duration, submitDate, status, lineCount };
inline constexpr std::array<TaskColumn, 8> kTaskColumns{
    TaskColumn::tick,     TaskColumn::id,         TaskColumn::media,  TaskColumn::script,
    TaskColumn::duration, TaskColumn::submitDate, TaskColumn::status, TaskColumn::lineCount};

std::string_view columnTitle(TaskColumn column);
/// The cell's text (empty for the tick column).
std::string cellText(const KestruneItem& item, TaskColumn column);
/// The label of the column's copy menu entry; empty for columns without one.
std::string_view copyMenuLabel(TaskColumn column);

/// "yyyy/M/d HH:mm" in the local time zone.
std::string formatSubmitDate(KestruneItem::Date date);

/// The colour class of a status, by the first substring that matches.
enum class StatusTone { normal, failed, succeeded, running, completed };
StatusTone statusTone(std::string_view status);

/// The status cell carries a progress bar (conversion and processing).
bool showsProgress(std::string_view status);
double clampedProgress(double progress);

/// The table's empty state.
inline constexpr std::string_view kEmptyTitle = "暂无数据";
inline constexpr std::string_view kEmptyHint = "点击下方按钮开始创建任务";

/// The task table's rows: at most 100, newest first.
std::vector<KestruneItem> loadTasks(DatabaseManager& database);

/// What deleting the selected rows did: the ids deleted, and the failure that stopped it.
struct DeleteOutcome {
    std::vector<std::int64_t> deleted;
    std::optional<std::string> error;
};
/// Deletes one id after the other, stopping at the first failure ("删除数据失败: " is printed).
DeleteOutcome deleteTasks(DatabaseManager& database, const std::vector<std::int64_t>& ids);

/// Keeps table reloads from piling up: one load at a time, and one more after it when changes
/// arrived meanwhile.
class ReloadGate {
  public:
    /// A change arrived; true when a load should start now.
    bool request();
    /// The running load finished; true when another should start now.
    bool finished();
    bool isLoading() const { return running_; }

  private:
    bool running_ = false;
    bool pending_ = false;
};

/// How a freshly loaded snapshot differs from the rows shown.
struct RowChanges {
    bool sameRows = false;             ///< same ids in the same order
    std::vector<std::size_t> changed;  ///< rows whose content differs, when sameRows
};
RowChanges compareRows(const std::vector<KestruneItem>& shown,
                       const std::vector<KestruneItem>& loaded);

/// The data management screen's actions; each prints its success or failure line and tells
/// whether it succeeded.
bool createSampleData(DatabaseManager& database);
bool clearAllData(DatabaseManager& database);

}  // namespace quillora
