#include "server/platform_server.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "contract/platform_contract.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/uuid.h"
#include "server/guarded_http_server.h"
#include "server/platform_credentials.h"
#include "server/speech_aligner.h"
#include "text/printable.h"
#include "text/time_codes.h"
#include "text/unicode.h"

namespace quillora::server {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kScriptFile = "script.txt";
constexpr const char* kAudioFile = "audio.bin";
constexpr const char* kStartedMarker = "started";
constexpr const char* kResultFile = "result.srt";
constexpr const char* kFailureFile = "failed.txt";
constexpr std::size_t kFieldLimit = 4096;

void replyJson(httplib::Response& res, int httpStatus, const json& body) {
    res.status = httpStatus;
    res.set_content(body.dump(), "application/json; charset=utf-8");
}

// The task server's refusals repeat the HTTP status in the body.
void replyError(httplib::Response& res, int httpStatus, const std::string& message) {
    replyJson(res, httpStatus, {{"status", httpStatus}, {"message", message}});
}

std::string param(const httplib::Request& req, const char* name) {
    return req.has_param(name) ? req.get_param_value(name) : std::string();
}

enum class TaskState { uploaded, queued, aligning, done, failed };

// Uploaded scripts and recordings are the studios' material: only the server's own user may
// read them, whatever the umask.
constexpr fs::perms kPrivateFolder = fs::perms::owner_all;
constexpr fs::perms kPrivateFile = fs::perms::owner_read | fs::perms::owner_write;
constexpr mode_t kPrivateFileMode = 0600;

void createPrivateDirectory(const fs::path& dir) {
    fs::create_directories(dir);
    fs::permissions(dir, kPrivateFolder, fs::perm_options::replace);
}

}  // namespace

fs::path defaultServerDataDirectory() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const fs::path base = xdg && *xdg ? fs::path(xdg) : homeDirectory() / ".local" / "share";
    return base / "quillora-platform";
}

std::vector<std::string> scriptLines(const std::string& script) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= script.size()) {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos) end = script.size();
        std::string line = script.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string formatSrt(const std::vector<std::string>& lines,
                      const std::vector<LineTiming>& ranges) {
    // Missing lines get no cue; the client counts them from the cues that are there.
    std::string srt;
    std::size_t number = 0;
    for (std::size_t i = 0; i < lines.size() && i < ranges.size(); ++i) {
        if (ranges[i].missing) continue;
        srt += std::to_string(++number) + "\n" + computedTimeString(ranges[i].start) + " --> " +
               computedTimeString(ranges[i].end) + "\n" + lines[i] + "\n\n";
    }
    return srt;
}

struct PlatformServer::Impl {
    ServerConfig config;
    AccountStore accounts;
    GuardedHttpServer http;
    std::thread serveThread;
    SignInThrottle throttle;

    std::mutex queueMutex;
    std::condition_variable_any queueChanged;
    std::deque<std::string> queue;
    struct ActiveTask {
        TaskState state = TaskState::queued;
        int stage = 0;  // what the aligner last reported
    };
    std::map<std::string, ActiveTask> active;  // queued or aligning
    std::vector<std::jthread> workers;
    std::mutex stopMutex;  // the signal thread and main may both stop; one joins

    explicit Impl(ServerConfig c)
        : config(std::move(c)),
          accounts(config.dataDirectory / "platform.db"),
          http(config.connections),
          throttle(config.accountThrottle, config.addressThrottle) {
        createPrivateDirectory(config.dataDirectory / "tasks");
        createPrivateDirectory(config.dataDirectory / "incoming");
        if (!config.alignerFactory) config.alignerFactory = makeSpeechAligner;
        installRoutes();
        requeueUnfinishedTasks();
        const unsigned count = config.alignWorkers > 0
                                   ? config.alignWorkers
                                   : std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i)
            workers.emplace_back([this](std::stop_token stop) { alignmentLoop(stop); });
    }

    fs::path taskDir(const std::string& taskid) const {
        return config.dataDirectory / "tasks" / taskid;
    }

    // ---- task state -------------------------------------------------------------------------

    std::optional<TaskState> stateOf(const std::string& taskid, int* stage = nullptr) {
        {
            std::lock_guard lock(queueMutex);
            auto it = active.find(taskid);
            if (it != active.end()) {
                if (stage) *stage = it->second.stage;
                return it->second.state;
            }
        }
        const fs::path dir = taskDir(taskid);
        std::error_code ec;
        if (!fs::exists(dir / kAudioFile, ec)) return std::nullopt;
        if (fs::exists(dir / kResultFile, ec)) return TaskState::done;
        if (fs::exists(dir / kFailureFile, ec)) return TaskState::failed;
        return TaskState::uploaded;
    }

    void enqueue(const std::string& taskid) {
        std::lock_guard lock(queueMutex);
        if (active.count(taskid)) return;
        active[taskid] = ActiveTask{};
        queue.push_back(taskid);
        queueChanged.notify_all();
    }

    void requeueUnfinishedTasks() {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(config.dataDirectory / "tasks", ec)) {
            const fs::path dir = entry.path();
            if (fs::exists(dir / kStartedMarker) && !fs::exists(dir / kResultFile) &&
                !fs::exists(dir / kFailureFile)) {
                enqueue(dir.filename().string());
            }
        }
    }

    void alignmentLoop(std::stop_token stop) {
        std::unique_ptr<Aligner> aligner = config.alignerFactory();
        while (true) {
            std::string taskid;
            {
                std::unique_lock lock(queueMutex);
                if (!queueChanged.wait(lock, stop, [&] { return !queue.empty(); })) return;
                taskid = queue.front();
                queue.pop_front();
                active[taskid].state = TaskState::aligning;
            }
            if (!alignTask(*aligner, taskid, stop)) finish(taskid);
        }
    }

    // The task leaves the active set once its result or failure is on disk, and before the log
    // says so, so that the result path never answers "steps/" for a finished task.
    void finish(const std::string& taskid) {
        std::lock_guard lock(queueMutex);
        active.erase(taskid);
    }

    // Aligns one task; true when it finished it (result or failure written, task inactive).
    bool alignTask(Aligner& aligner, const std::string& taskid, std::stop_token stop) {
        const fs::path dir = taskDir(taskid);
        try {
            const std::vector<std::string> lines = scriptLines(readFile(dir / kScriptFile));
            if (lines.empty()) throw AlignmentError("文稿没有内容");
            const std::vector<LineTiming> ranges =
                aligner.align(dir / kAudioFile, lines, stop, [&](int stage) {
                    std::lock_guard lock(queueMutex);
                    active[taskid].stage = stage;
                });
            if (stop.stop_requested()) return false;  // picked up again at the next start
            if (ranges.size() != lines.size()) throw AlignmentError("对齐结果与文稿行数不一致");
            const auto missing = std::count_if(ranges.begin(), ranges.end(),
                                               [](const LineTiming& r) { return r.missing; });
            const std::string srt = formatSrt(lines, ranges);
            // Never publish what clients cannot read (a script stored before uploads were
            // checked).
            if (!isValidUtf8(srt)) throw AlignmentError("文稿不是有效的 UTF-8 文本");
            writeFileAtomically(dir / kResultFile, srt, kPrivateFileMode);
            finish(taskid);
            console("✅ 任务 " + taskid + " 对齐完成: " + std::to_string(lines.size()) + " 行" +
                    (missing ? ", 录音中缺少 " + std::to_string(missing) + " 行" : ""));
            return true;
        } catch (const std::exception& error) {
            if (stop.stop_requested()) return false;
            std::string reason = error.what();
            for (char& c : reason) {
                if (c == '\n' || c == '\r') c = ' ';
            }
            reason = printableText(reason);
            try {
                writeFileAtomically(dir / kFailureFile, reason, kPrivateFileMode);
            } catch (const std::exception& writeError) {
                console("❌ 无法记录任务失败: " + std::string(writeError.what()));
            }
            finish(taskid);
            console("❌ 任务 " + taskid + " 对齐失败: " + reason);
            return true;
        }
    }

    // ---- routes -----------------------------------------------------------------------------

    std::string tooLargeMessage() const {
        return "上传内容过大: 上限为 " + std::to_string(config.maxUploadBytes) + " 字节";
    }

    bool operatorAccepted(const httplib::Request& req, bool withPassword) {
        return param(req, "username") == contract::kOperatorAccount &&
               (!withPassword || param(req, "password") == contract::kOperatorPassword);
    }

    std::string throttledMessage(long long wait) {
        return "密码错误次数过多，请 " + std::to_string(wait) + " 秒后再试";
    }

    void logFailure(const char* what, const std::string& who, const httplib::Request& req) {
        console("⚠️ " + std::string(what) + "密码错误: " + printableText(who, 100) + " 来自 " +
                req.remote_addr);
    }

    void logThrottled(const char* what, const std::string& who, const httplib::Request& req,
                      httplib::Response& res, long long wait) {
        res.set_header("Retry-After", std::to_string(wait));
        console("🚫 " + std::string(what) + "已限制: " + printableText(who, 100) + " 来自 " +
                req.remote_addr + "，" + std::to_string(wait) + " 秒后可再试");
    }

    void handleLogin(const httplib::Request& req, httplib::Response& res) {
        if (!operatorAccepted(req, true)) {
            return replyJson(res, 200,
                             {{"success", false}, {"status", 401}, {"msg", "接口账号或密码错误"}});
        }
        if (!isAcceptedDailyToken(param(req, "token"), std::chrono::system_clock::now())) {
            return replyJson(res, 200,
                             {{"success", false}, {"status", 401}, {"msg", "令牌无效或已过期"}});
        }
        const std::string name = param(req, "srtusername");
        const std::string key = "name:" + name;
        if (const long long wait = throttle.retryAfterSeconds(key, req.remote_addr)) {
            logThrottled("登录", name, req, res, wait);
            return replyJson(
                res, 429, {{"success", false}, {"status", 429}, {"msg", throttledMessage(wait)}});
        }
        const auto account = accounts.authenticate(name, param(req, "srtpassword"));
        if (!account) {
            throttle.recordFailure(key, req.remote_addr);
            logFailure("登录", name, req);
            return replyJson(res, 200,
                             {{"success", false}, {"status", 403}, {"msg", "用户名或密码错误"}});
        }
        throttle.recordSuccess(key);
        replyJson(res, 200,
                  {{"success", true},
                   {"status", 200},
                   {"msg", "登录成功"},
                   {"user",
                    {{"userid", account->id},
                     {"preamount", account->balance},
                     {"phone", account->phone.empty() ? account->name : account->phone},
                     {"zimu", account->zimu},
                     {"shijianzhou", account->shijianzhou},
                     {"paytype", account->paytype}}}});
    }

    void handleCharge(const httplib::Request& req, httplib::Response& res) {
        if (!operatorAccepted(req, true)) {
            return replyJson(res, 200, {{"code", 401}, {"msg", "接口账号或密码错误"}});
        }
        if (!isAcceptedDailyToken(param(req, "token"), std::chrono::system_clock::now())) {
            return replyJson(res, 200, {{"code", 401}, {"msg", "令牌无效或已过期"}});
        }
        const std::string idText = param(req, "srtuserid");
        std::int64_t id = 0;
        const auto [idEnd, idError] =
            std::from_chars(idText.data(), idText.data() + idText.size(), id);
        if (idText.empty() || idError != std::errc() || idEnd != idText.data() + idText.size()) {
            return replyJson(res, 200, {{"code", 400}, {"msg", "用户ID无效"}});
        }
        const std::string amountText = param(req, "amount");
        double minutes = -1;
        const auto [amountEnd, amountError] =
            std::from_chars(amountText.data(), amountText.data() + amountText.size(), minutes);
        if (amountText.empty() || amountError != std::errc() ||
            amountEnd != amountText.data() + amountText.size() || !std::isfinite(minutes) ||
            minutes < 0 || std::trunc(minutes) != minutes || minutes > 1e9) {
            return replyJson(res, 200, {{"code", 400}, {"msg", "扣费金额无效"}});
        }
        // The charge takes the password too, so it is guarded against guessing like sign-in.
        const std::string key = "id:" + idText;
        if (const long long wait = throttle.retryAfterSeconds(key, req.remote_addr)) {
            logThrottled("扣费", idText, req, res, wait);
            return replyJson(res, 429, {{"code", 429}, {"msg", throttledMessage(wait)}});
        }
        if (!accounts.authenticateId(id, param(req, "srtpassword"))) {
            throttle.recordFailure(key, req.remote_addr);
            logFailure("扣费", idText, req);
            return replyJson(res, 200, {{"code", 403}, {"msg", "用户名或密码错误"}});
        }
        throttle.recordSuccess(key);
        // The fixed per-minute price of the timeline service.
        constexpr double kPricePerMinute = 1.0;
        const ChargeResult result = accounts.charge(id, minutes * kPricePerMinute);
        switch (result.kind) {
            case ChargeResult::Kind::unknownAccount:
                return replyJson(res, 200, {{"code", 403}, {"msg", "用户名或密码错误"}});
            case ChargeResult::Kind::insufficientBalance:
                return replyJson(res, 200, {{"code", 400}, {"msg", "余额不足"}});
            case ChargeResult::Kind::charged:
                break;
        }
        replyJson(res, 200,
                  {{"code", 200},
                   {"msg", "扣费成功"},
                   {"data",
                    {{"user_id", std::to_string(id)},
                     {"before_amount", result.before},
                     {"deduct_amount", result.charged},
                     {"after_amount", result.after}}}});
    }

    void handleUpload(const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader) {
        if (!req.is_multipart_form_data()) {
            return replyError(res, 400, "需要 multipart/form-data 请求");
        }
        const fs::path staging = config.dataDirectory / "incoming" / uuidString();
        createPrivateDirectory(staging);
        struct Cleanup {
            fs::path path;
            ~Cleanup() {
                std::error_code ec;
                fs::remove_all(path, ec);
            }
        } cleanup{staging};

        std::map<std::string, std::string> fields;
        std::map<std::string, bool> filesSeen;
        std::ofstream out;
        std::string currentField;
        bool fieldTooLong = false;
        const bool complete = reader(
            [&](const httplib::MultipartFormData& part) {
                out.close();
                currentField.clear();
                if (part.name == "file1" || part.name == "file2") {
                    out.open(staging / part.name, std::ios::binary | std::ios::trunc);
                    filesSeen[part.name] = true;
                    return static_cast<bool>(out);
                }
                currentField = part.name;
                fields[currentField];
                return true;
            },
            [&](const char* data, std::size_t length) {
                if (out.is_open()) {
                    out.write(data, static_cast<std::streamsize>(length));
                    return static_cast<bool>(out);
                }
                if (currentField.empty()) return true;
                std::string& value = fields[currentField];
                if (value.size() + length > kFieldLimit) {
                    fieldTooLong = true;
                    return false;
                }
                value.append(data, length);
                return true;
            });
        out.close();
        if (fieldTooLong) {
            return replyError(res, 400, "表单字段过长");
        }
        if (!complete && res.status == 413) {
            return replyError(res, 413, tooLargeMessage());
        }
        if (!complete) {
            return replyError(res, 400, "上传数据不完整");
        }
        if (fields["token"] != contract::uploadToken() ||
            fields["username"] != contract::kUploadAccount) {
            return replyError(res, 403, "上传令牌无效");
        }
        const std::string taskid = fields["taskid"];
        if (!isValidTaskId(taskid)) {
            return replyError(res, 400, "任务ID无效: 只允许1到64个字母、数字、下划线或连字符");
        }
        if (!filesSeen["file1"] || !filesSeen["file2"]) {
            return replyError(res, 400, "缺少文件 file1 或 file2");
        }
        const auto state = stateOf(taskid);
        if (state == TaskState::queued || state == TaskState::aligning) {
            return replyError(res, 409, "任务正在处理中，不能重新上传");
        }
        // A script that is not UTF-8 could only give a result no client can read.
        if (!isValidUtf8(readFile(staging / "file1"))) {
            return replyError(res, 400, "文稿不是有效的 UTF-8 文本");
        }
        const fs::path dir = taskDir(taskid);
        createPrivateDirectory(dir);
        for (const char* stale : {kStartedMarker, kResultFile, kFailureFile})
            fs::remove(dir / stale);
        for (const auto& [from, to] : {std::pair{"file1", kScriptFile}, {"file2", kAudioFile}}) {
            fs::permissions(staging / from, kPrivateFile, fs::perm_options::replace);
            fs::rename(staging / from, dir / to);
        }
        replyJson(res, 200, {{"status", 200}, {"message", "上传成功"}, {"taskid", taskid}});
    }

    void handleStart(const httplib::Request& req, httplib::Response& res) {
        if (!operatorAccepted(req, false) || param(req, "token") != contract::startToken()) {
            return replyJson(res, 200, {{"status", 403}, {"message", "令牌无效"}});
        }
        const std::string taskid = param(req, "taskid");
        if (!isValidTaskId(taskid)) {
            return replyJson(res, 200, {{"status", 400}, {"message", "任务ID无效"}});
        }
        const auto state = stateOf(taskid);
        if (!state) return replyJson(res, 200, {{"status", 404}, {"message", "任务不存在"}});
        if (*state == TaskState::queued || *state == TaskState::aligning) {
            return replyError(res, 200, "任务已在处理中");
        }
        const fs::path dir = taskDir(taskid);
        for (const char* stale : {kResultFile, kFailureFile})
            fs::remove(dir / stale);
        writeFileAtomically(dir / kStartedMarker, "", kPrivateFileMode);
        enqueue(taskid);
        replyError(res, 200, "任务已启动");
    }

    void handleResult(const httplib::Request& req, httplib::Response& res) {
        std::string taskid = req.matches[1];
        if (!taskid.ends_with(contract::kResultPathSuffix)) {
            return replyError(res, 404, "请求无效");
        }
        taskid.resize(taskid.size() - std::string_view(contract::kResultPathSuffix).size());
        if (!isValidTaskId(taskid)) {
            return replyError(res, 400, "任务ID无效");
        }
        int stage = 0;
        const auto state = stateOf(taskid, &stage);
        if (!state) return replyError(res, 404, "任务不存在");
        const fs::path dir = taskDir(taskid);
        switch (*state) {
            case TaskState::uploaded:
                return res.set_content("steps/0", "text/plain; charset=utf-8");
            case TaskState::queued:
                return res.set_content("steps/1", "text/plain; charset=utf-8");
            case TaskState::aligning:
                // steps/2 aligning, steps/3 recording decoded, steps/4 speech analysed.
                return res.set_content("steps/" + std::to_string(2 + stage),
                                       "text/plain; charset=utf-8");
            case TaskState::failed:
                return res.set_content("failed/" + printableText(readFile(dir / kFailureFile)),
                                       "text/plain; charset=utf-8");
            case TaskState::done: {
                // Files left by an older server may not be UTF-8; clients cannot read those.
                std::string srt = readFile(dir / kResultFile);
                if (!isValidUtf8(srt)) {
                    return res.set_content("failed/对齐结果不是有效的 UTF-8 文本",
                                           "text/plain; charset=utf-8");
                }
                return res.set_content(std::move(srt), "application/x-subrip; charset=utf-8");
            }
        }
    }

    void installRoutes() {
        http.set_payload_max_length(config.maxUploadBytes);
        // Only SO_REUSEADDR (a restart may bind over connections in TIME_WAIT): the library's
        // default also sets SO_REUSEPORT, which lets a second server bind the same port and take
        // part of the traffic instead of failing.
        http.set_socket_options([](socket_t sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        http.Get(contract::kLoginPath,
                 [this](const auto& req, auto& res) { handleLogin(req, res); });
        http.Get(contract::kChargePath,
                 [this](const auto& req, auto& res) { handleCharge(req, res); });
        http.Post(contract::kUploadPath,
                  [this](const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader) { handleUpload(req, res, reader); });
        http.Get(contract::kStartTaskPath,
                 [this](const auto& req, auto& res) { handleStart(req, res); });
        http.Get(std::string(contract::kResultPathPrefix) + "(.+)",
                 [this](const auto& req, auto& res) { handleResult(req, res); });
        http.set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
                std::string text = "服务器内部错误";
                try {
                    if (error) std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    text += std::string(": ") + e.what();
                } catch (...) {
                }
                replyError(res, 500, text);
            });
        http.set_error_handler(httplib::Server::HandlerWithResponse(
            [this](const httplib::Request&, httplib::Response& res) {
                if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
                if (res.status == 413) {
                    replyError(res, 413, tooLargeMessage());
                } else {
                    replyError(res, res.status, "请求无效");
                }
                return httplib::Server::HandlerResponse::Handled;
            }));
        http.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            // The path only: query strings carry passwords and tokens.
            // Escaped: a decoded path may hold line breaks or terminal escape sequences.
            console(req.method + " " + printableText(req.path, 300) + " " +
                    std::to_string(res.status));
        });
    }
};

PlatformServer::PlatformServer(ServerConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

PlatformServer::~PlatformServer() {
    stop();
    if (impl_->serveThread.joinable()) impl_->serveThread.join();
}

AccountStore& PlatformServer::accounts() {
    return impl_->accounts;
}

int PlatformServer::bind(const std::string& host, int port) {
    const int bound = port == 0 ? impl_->http.bind_to_any_port(host)
                                : (impl_->http.bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        throw Error("无法监听 " + host + ":" + std::to_string(port) + " (端口被占用或地址无效)");
    }
    impl_->http.widenBacklog();
    return bound;
}

void PlatformServer::run() {
    impl_->http.listen_after_bind();
}

void PlatformServer::start() {
    impl_->serveThread = std::thread([this] { run(); });
    // A stop() that came before the accept loop ran would be lost; wait until it runs.
    for (int i = 0; i < 5000 && !impl_->http.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PlatformServer::stop() {
    std::lock_guard lock(impl_->stopMutex);
    // Open connections end at once rather than at their clients' pace.
    impl_->http.closeConnections();
    impl_->http.stop();
    for (auto& worker : impl_->workers)
        worker.request_stop();
    for (auto& worker : impl_->workers) {
        if (worker.joinable()) worker.join();
    }
}

fs::path PlatformServer::taskDirectory(const std::string& taskid) const {
    return impl_->taskDir(taskid);
}

}  // namespace quillora::server
