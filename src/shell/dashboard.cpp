#include "shell/dashboard.h"

#include <algorithm>
#include <cstdio>

#include "platform/console.h"
#include "platform/error.h"
#include "platform/local_time.h"
#include "store/database_error.h"
#include "store/database_manager.h"
#include "text/media_lookup.h"
#include "text/unicode.h"

namespace quillora {

namespace {

template <std::size_t N>
bool hasExtensionIn(const std::filesystem::path& file,
                    const std::array<std::string_view, N>& extensions) {
    const std::string extension = lowerExtension(file);
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

}  // namespace

bool SupportedFileTypes::isText(const std::filesystem::path& file) {
    return hasExtensionIn(file, allText);
}

bool SupportedFileTypes::isMedia(const std::filesystem::path& file) {
    return hasExtensionIn(file, allMedia);
}

AddTaskOutcome addTask(DatabaseManager& database, const std::string& textFilePath,
                       const std::string& mediaFilePath, const TaskHandOff& processTask) {
    AddTaskOutcome outcome;
    try {
        KestruneItem task = KestruneItem::newTask(textFilePath, mediaFilePath);
        task.id = database.insertItem(task);
        outcome.resultText = "成功添加一条新任务！";
        if (processTask) processTask(task);
        outcome.task = std::move(task);
    } catch (const DatabaseError& error) {
        outcome.errorText = "数据库操作失败: " + error.description();
    } catch (const std::exception& error) {
        outcome.errorText = "添加任务失败: " + std::string(error.what());
    }
    return outcome;
}

void DashboardForm::chooseTextFile(const std::filesystem::path& file) {
    selectedTextFilePath = file.string();
    if (const auto media = findMatchingMediaFileInSameDirectory(file)) {
        selectedMediaFilePath = media->string();
    }
}

void DashboardForm::chooseMediaFile(const std::filesystem::path& file) {
    selectedMediaFilePath = file.string();
}

bool DashboardForm::dropFiles(const std::vector<std::filesystem::path>& files) {
    bool taken = false;
    // Scripts first, so that a recording dropped with them wins over the same-name lookup.
    for (const auto& file : files) {
        if (SupportedFileTypes::isText(file)) {
            chooseTextFile(file);
            taken = true;
        }
    }
    for (const auto& file : files) {
        if (SupportedFileTypes::isMedia(file)) {
            chooseMediaFile(file);
            taken = true;
        }
    }
    return taken;
}

bool DashboardForm::canAddTask() const {
    return !isLoading && !selectedTextFilePath.empty() && !selectedMediaFilePath.empty();
}

void DashboardForm::apply(const AddTaskOutcome& outcome) {
    if (!outcome.resultText.empty()) resultText = outcome.resultText;
    if (!outcome.errorText.empty()) errorText = outcome.errorText;
    if (outcome.task) {
        selectedTextFilePath.clear();
        selectedMediaFilePath.clear();
    }
}

void DashboardForm::note(TableCallback callback) {
    switch (callback) {
        case TableCallback::deleteSelected:
            resultText = "删除选中项";
            break;
        case TableCallback::unselectAll:
            resultText = "取消全部选中";
            break;
        case TableCallback::multiselect:
            resultText = "多选模式";
            break;
    }
}

std::string_view columnTitle(TaskColumn column) {
    switch (column) {
        case TaskColumn::tick:
            return "勾选";
        case TaskColumn::id:
            return "序号";
        case TaskColumn::media:
            return "音视频";
        case TaskColumn::script:
            return "文本";
        case TaskColumn::duration:
            return "时长(分钟)";
        case TaskColumn::submitDate:
            return "提交时间";
        case TaskColumn::status:
            return "状态";
        case TaskColumn::lineCount:
            return "行数";
    }
    return "";
}

std::string cellText(const KestruneItem& item, TaskColumn column) {
    switch (column) {
        case TaskColumn::tick:
            return "";
        case TaskColumn::id:
            return std::to_string(item.id);
        case TaskColumn::media:
            return std::filesystem::path(item.movieFilePath).filename().string();
        case TaskColumn::script:
            return std::filesystem::path(item.textFilePath).filename().string();
        case TaskColumn::duration: {
            char text[64];
            std::snprintf(text, sizeof text, "%0.f", item.duration);
            return text;
        }
        case TaskColumn::submitDate:
            return formatSubmitDate(item.submitDate);
        case TaskColumn::status:
            return item.status;
        case TaskColumn::lineCount:
            return item.textlost;
    }
    return "";
}

std::string_view copyMenuLabel(TaskColumn column) {
    switch (column) {
        case TaskColumn::id:
            return "复制序号";
        case TaskColumn::media:
        case TaskColumn::script:
            return "复制文件名";
        case TaskColumn::duration:
            return "复制时长";
        case TaskColumn::submitDate:
            return "复制时间";
        case TaskColumn::status:
            return "复制状态";
        case TaskColumn::tick:
        case TaskColumn::lineCount:
            break;
    }
    return "";
}

std::string formatSubmitDate(KestruneItem::Date date) {
    return formatLocalTime(date, "%Y/%-m/%-d %H:%M");
}

StatusTone statusTone(std::string_view status) {
    const auto has = [status](std::string_view part) {
        return status.find(part) != std::string_view::npos;
    };
    if (has("失败")) return StatusTone::failed;
    if (has("成功")) return StatusTone::succeeded;
    if (has("转换中") || has("处理中")) return StatusTone::running;
    if (has("已完成")) return StatusTone::completed;
    return StatusTone::normal;
}

bool showsProgress(std::string_view status) {
    // The recording's conversion reports its progress too, so "转码中" gets the bar as well.
    for (std::string_view running : {"转换中", "处理中", "转码中"}) {
        if (status.find(running) != std::string_view::npos) return true;
    }
    return false;
}

double clampedProgress(double progress) {
    if (!(progress >= 0)) return 0;  // also NaN
    return std::min(progress, 1.0);
}

std::vector<KestruneItem> loadTasks(DatabaseManager& database) {
    return database.getAllItems();
}

DeleteOutcome deleteTasks(DatabaseManager& database, const std::vector<std::int64_t>& ids) {
    DeleteOutcome outcome;
    for (const std::int64_t id : ids) {
        try {
            database.deleteItemById(id);
        } catch (const std::exception& error) {
            outcome.error = std::string(error.what());
            console("删除数据失败: " + *outcome.error);
            break;
        }
        outcome.deleted.push_back(id);
    }
    return outcome;
}

bool ReloadGate::request() {
    if (running_) {
        pending_ = true;
        return false;
    }
    running_ = true;
    return true;
}

bool ReloadGate::finished() {
    if (pending_) {
        pending_ = false;
        return true;
    }
    running_ = false;
    return false;
}

RowChanges compareRows(const std::vector<KestruneItem>& shown,
                       const std::vector<KestruneItem>& loaded) {
    RowChanges changes;
    if (shown.size() != loaded.size()) return changes;
    for (std::size_t row = 0; row < shown.size(); ++row) {
        if (shown[row].id != loaded[row].id) return changes;
    }
    changes.sameRows = true;
    for (std::size_t row = 0; row < shown.size(); ++row) {
        if (!(shown[row] == loaded[row])) changes.changed.push_back(row);
    }
    return changes;
}

bool createSampleData(DatabaseManager& database) {
    struct Sample {
        const char* status;
        double progress;
        const char* media;
        const char* script;
    };
    static constexpr Sample samples[] = {
        {status::kPending, 0, "/Documents/sample_video.mp4", "/Documents/sample_video.srt"},
        {"转换中", 0.5, "/Documents/demo.mp4", "/Documents/demo.srt"},
        {"已完成", 1, "/Documents/tutorial.mov", "/Documents/tutorial.srt"},
    };
    try {
        if (!database.isInitialized()) database.initializeDatabase();
        for (const Sample& sample : samples) {
            KestruneItem item = KestruneItem::newTask(sample.script, sample.media);
            item.status = sample.status;
            item.progress = sample.progress;
            database.insertItem(item);
        }
    } catch (const std::exception& error) {
        console("创建示例数据失败: " + std::string(error.what()));
        return false;
    }
    console("示例数据创建成功");
    return true;
}

bool clearAllData(DatabaseManager& database) {
    try {
        database.deleteAllItems();
    } catch (const std::exception& error) {
        console("清空数据失败: " + std::string(error.what()));
        return false;
    }
    console("数据清空成功");
    return true;
}

}  // namespace quillora
