// Task commands: `submit` (add a task and process it here, as the dashboard's "添加任务" does)
// and `tasks` (the task table, newest first; `tasks delete ID...`).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "pipeline/task_processor.h"
#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/notifications.h"
#include "service/network_service.h"
#include "store/database_error.h"
#include "store/database_manager.h"
#include "text/printable.h"
#include "text/unicode.h"

namespace quillora::cli {
namespace {

namespace fs = std::filesystem;

// Sleeps up to `duration`, waking early on Ctrl-C.
void sleepUnlessInterrupted(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!InterruptGuard::interrupted() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::optional<KestruneItem> findTask(DatabaseManager& database, std::int64_t id) {
    for (KestruneItem& item : database.getAllItems()) {
        if (item.id == id) return std::move(item);
    }
    return std::nullopt;
}

bool showsProgress(const std::string& status) {
    return status.find("转换中") != std::string::npos || status.find("处理中") != std::string::npos;
}

std::string percent(double progress) {
    return std::to_string(std::lround(std::clamp(progress, 0.0, 1.0) * 100)) + "%";
}

std::string statusText(const KestruneItem& item) {
    // The status may carry a server's message: shown without control characters.
    const std::string shown = printableText(item.status, 200);
    return showsProgress(item.status) ? shown + " " + percent(item.progress) : shown;
}

std::string submitTime(KestruneItem::Date date) {
    return formatLocalTime(date, "%Y/%m/%d %H:%M");
}

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t used = displayWidth(text);
    return text + std::string(width > used ? width - used : 0, ' ');
}

void printTable(const std::vector<KestruneItem>& items) {
    std::vector<std::vector<std::string>> rows = {
        {"序号", "音视频", "文本", "时长(分钟)", "提交时间", "状态", "行数"}};
    for (const KestruneItem& item : items) {
        char minutes[32];
        std::snprintf(minutes, sizeof minutes, "%0.f", item.duration);
        rows.push_back({std::to_string(item.id),
                        printableText(fs::path(item.movieFilePath).filename().string(), 100),
                        printableText(fs::path(item.textFilePath).filename().string(), 100),
                        minutes, submitTime(item.submitDate), statusText(item), item.textlost});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], displayWidth(row[column]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            const bool last = column + 1 == row.size();
            line += last ? row[column] : padded(row[column], widths[column]) + "  ";
        }
        std::cout << line << "\n";
    }
}

struct SubmitOptions {
    std::string script;
    std::string recording;
    std::string format = "m4a";
    bool wait = false;
    bool verbose = false;
};

// Prints each status the job writes and its progress as it changes.
class ProgressPrinter {
  public:
    ProgressPrinter(DatabaseManager& database, std::int64_t id)
        : database_(database), id_(id), terminal_(::isatty(STDOUT_FILENO) == 1) {
        token_ = NotificationCenter::shared().subscribe(
            notification::kTaskUpdated,
            [this](const NotificationCenter::Payload& payload) { onUpdate(payload); });
    }
    ~ProgressPrinter() {
        NotificationCenter::shared().unsubscribe(token_);
        if (openLine_) std::cout << "\n";
    }

  private:
    void onUpdate(const NotificationCenter::Payload& payload) {
        if (payload.is_object()) {
            if (payload.value("id", std::int64_t{-1}) != id_) return;
            showProgress(payload.value("progress", 0.0));
            return;
        }
        std::optional<KestruneItem> item;
        try {
            item = findTask(database_, id_);
        } catch (const std::exception&) {
            return;  // the job itself reports store failures
        }
        if (!item || item->status == lastStatus_) return;
        lastStatus_ = item->status;
        endProgressLine();
        std::cout << "状态: " << statusText(*item) << std::endl;
    }

    void showProgress(double progress) {
        const std::string text = "进度: " + percent(progress);
        if (text == lastProgress_) return;
        lastProgress_ = text;
        if (terminal_) {
            std::cout << "\r" << text << std::flush;
            openLine_ = true;
        } else {
            std::cout << text << std::endl;
        }
    }

    void endProgressLine() {
        if (!openLine_) return;
        std::cout << "\n";
        openLine_ = false;
    }

    DatabaseManager& database_;
    std::int64_t id_;
    bool terminal_;
    bool openLine_ = false;
    std::string lastStatus_;
    std::string lastProgress_;
    NotificationCenter::Token token_ = 0;
};

// Asks the task server for the result every few seconds until the record leaves "处理中".
KestruneItem waitForResult(DatabaseManager& database, KestruneItem item) {
    std::cout << "等待服务器结果（Ctrl-C 停止等待，任务继续在服务器上处理）…" << std::endl;
    for (;;) {
        try {
            if (NetworkService::shared().checkTaskCompletion(item)) break;
        } catch (const std::exception& error) {
            std::cerr << "检查任务结果失败: " << printableText(error.what()) << "\n";
        }
        sleepUnlessInterrupted(std::chrono::seconds(3));
        if (InterruptGuard::interrupted()) throw CommandFailure{"已停止等待；任务仍在服务器上处理"};
        if (auto current = findTask(database, item.id)) item = std::move(*current);
        if (item.status != status::kProcessing) return item;
    }
    return findTask(database, item.id).value_or(item);
}

void installSubmit(CLI::App& app) {
    auto options = std::make_shared<SubmitOptions>();
    CLI::App* command = app.add_subcommand(
        "submit", "Add a task (script + recording) and process it: upload, charge, start");
    command->add_option("SCRIPT", options->script, "script: txt, srt, rtf, rtfd, doc or docx")
        ->required();
    command->add_option("RECORDING", options->recording, "audio or video recording")->required();
    command->add_option("--format", options->format, "audio sent to the server")
        ->check(CLI::IsMember({"m4a", "wav"}));
    command->add_flag("--wait", options->wait, "wait for the subtitles and write them");
    command->add_flag("--verbose", options->verbose, "print diagnostic lines on stderr");
    addExample(command, "quillora-cli submit script.docx interview.mp4 --wait");
    command->callback([options] {
        // Diagnostics go to stderr with --verbose; the job's reason for failing is kept to
        // explain a failed run either way.
        auto reason = std::make_shared<std::string>();
        setConsoleSink([verbose = options->verbose, reason](std::string_view line) {
            if (line.find(" 错误信息: ") != std::string_view::npos) *reason = line;
            diagnosticsSink(verbose)(line);
        });
        for (const std::string& file : {options->script, options->recording}) {
            if (!fs::exists(file)) throw CommandFailure{"找不到文件: " + file};
        }
        DatabaseManager& database = DatabaseManager::shared();
        KestruneItem item = KestruneItem::newTask(fs::absolute(options->script).string(),
                                                  fs::absolute(options->recording).string());
        item.outputFormat = options->format;
        try {
            item.id = database.insertItem(item);
        } catch (const DatabaseError& error) {
            throw CommandFailure{"数据库操作失败: " + error.description()};
        } catch (const std::exception& error) {
            throw CommandFailure{std::string("添加任务失败: ") + error.what()};
        }
        std::cout << "成功添加一条新任务！（序号 " << item.id << "）" << std::endl;

        TaskProcessor& processor = TaskProcessor::shared();
        InterruptGuard interrupt;
        {
            ProgressPrinter printer(database, item.id);
            processor.processTask(item);
            bool cancelling = false;
            while (!processor.taskQueue().actor.waitUntilIdleFor(std::chrono::milliseconds(100))) {
                if (InterruptGuard::interrupted() && !cancelling) {
                    cancelling = true;
                    processor.cancelAllTasks();
                }
            }
        }
        KestruneItem done = findTask(database, item.id).value_or(item);
        if (done.status == status::kProcessing && options->wait && !InterruptGuard::interrupted()) {
            done = waitForResult(database, done);
        }
        if (done.status == status::kSucceeded) {
            std::cout << "字幕已写入: " << srtPathForRecording(done.movieFilePath).string() << "\n";
            return;
        }
        if (done.status == status::kProcessing) {
            std::cout << "任务已在服务器上开始处理；用 quillora-cli poll 取回字幕\n";
            return;
        }
        throw CommandFailure{"任务" + done.status + (reason->empty() ? "" : "（" + *reason + "）")};
    });
}

void installTasks(CLI::App& app) {
    auto json = std::make_shared<bool>(false);
    auto ids = std::make_shared<std::vector<std::int64_t>>();
    CLI::App* command = app.add_subcommand("tasks", "List the task table, newest first");
    command->add_flag("--json", *json, "print the records as JSON");
    addExample(command, "quillora-cli tasks --json");
    CLI::App* remove = command->add_subcommand("delete", "Delete tasks by their 序号");
    remove->add_option("ID", *ids, "task numbers")->required();
    addExample(remove, "quillora-cli tasks delete 3 4");
    remove->callback([ids] {
        setConsoleSink(diagnosticsSink(false));
        DatabaseManager& database = DatabaseManager::shared();
        std::vector<std::int64_t> missing;
        for (const std::int64_t id : *ids) {
            try {
                // The table shows the newest 100 records; only those can be picked by number.
                if (!findTask(database, id)) {
                    missing.push_back(id);
                    continue;
                }
                database.deleteItemById(id);
            } catch (const DatabaseError& error) {
                throw CommandFailure{"删除数据失败: " + error.description()};
            }
            std::cout << "已删除任务 " << id << "\n";
        }
        if (!missing.empty()) {
            std::string list;
            for (const std::int64_t id : missing)
                list += (list.empty() ? "" : ", ") + std::to_string(id);
            throw CommandFailure{"没有这些序号的任务: " + list};
        }
    });
    command->callback([command, json] {
        if (command->got_subcommand("delete")) return;
        setConsoleSink(diagnosticsSink(false));
        std::vector<KestruneItem> items;
        try {
            items = DatabaseManager::shared().getAllItems();
        } catch (const DatabaseError& error) {
            throw CommandFailure{"加载数据失败: " + error.description()};
        }
        if (*json) {
            nlohmann::json records = nlohmann::json::array();
            for (const KestruneItem& item : items) {
                nlohmann::json record = item;
                record.erase("explicitlySet");  // how the record was built, not what it holds
                records.push_back(std::move(record));
            }
            std::cout << records.dump(2) << "\n";
        } else if (items.empty()) {
            std::cout << "暂无数据\n";
        } else {
            printTable(items);
        }
    });
}

const CommandRegistration registration([](CLI::App& app) {
    installSubmit(app);
    installTasks(app);
});

}  // namespace
}  // namespace quillora::cli
