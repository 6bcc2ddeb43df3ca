// The processing job from the request to "处理中" at 0.75 (audio exported, uploaded, charged,
// server task started) for a 10-minute and a 60-minute video, against the sum of its two
// expensive parts measured in the same run: the `ffmpeg` command line exporting the audio to
// M4A, and the upload of that M4A alone over loopback. What is left is the job's own overhead:
// script reading, length probes, store writes and notifications, the charge and the start.
//
// Usage: pipeline_bench [WORK_FOLDER] [--minutes 10,60] [--runs 3]

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/task_processor.h"
#include "platform/console.h"
#include "platform/notifications.h"
#include "platform/uuid.h"
#include "server/platform_server.h"
#include "service/network_service.h"
#include "store/database_manager.h"
#include "store/user_manager.h"

namespace {

namespace fs = std::filesystem;
using namespace quillora;
using Clock = std::chrono::steady_clock;

const std::string kPassword = "bench";
const std::string kScript = "大家好，欢迎收听节目。\n谢谢主持人！\n我们开始吧。\n";

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// CPU seconds of this process (the job, and the in-process server receiving the upload) and of
// the children it waited for (ffmpeg). On a shared machine this figure does not depend on the
// other load the way wall time does.
double cpuSeconds() {
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto total = [](const rusage& usage) {
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    return total(self) + total(children);
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A video as producers deliver them: a picture track and 48 kHz stereo AAC.
fs::path makeVideo(const fs::path& folder, int minutes) {
    const fs::path video = folder / ("talk-" + std::to_string(minutes) + "min.mp4");
    if (fs::exists(video)) return video;
    std::fprintf(stderr, "making a %d-minute video in %s\n", minutes, folder.c_str());
    const fs::path partial = folder / ("partial-" + video.filename().string());
    const std::string command =
        "ffmpeg -nostdin -y -f lavfi -i color=c=navy:s=320x180:r=1 -f lavfi -i "
        "'aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.5*t))|0.3*sin(2*PI*330*t):s=48000' "
        "-map 0:v -map 1:a -c:v libx264 -tune stillimage -pix_fmt yuv420p -c:a aac -b:a 128k -t " +
        std::to_string(minutes * 60) + " '" + partial.string() + "'";
    if (!run(command)) throw std::runtime_error("ffmpeg could not make " + video.string());
    fs::rename(partial, video);
    return video;
}

// A reference server with a fresh data folder and an account with money to spend.
struct Platform {
    server::PlatformServer server;
    int port;
    std::int64_t accountId;

    explicit Platform(const fs::path& data) : server(config(data)) {
        port = server.bind("127.0.0.1", 0);
        server::NewAccount account;
        account.name = "bench";
        account.password = kPassword;
        account.balance = 100000;
        accountId = server.accounts().addAccount(account).id;
        server.start();
    }
    ~Platform() { server.stop(); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }

    static server::ServerConfig config(const fs::path& data) {
        server::ServerConfig config;
        config.dataDirectory = data;
        return config;
    }
};

// The client side: its own stores, signed in as the platform's account.
struct Client {
    DatabaseManager database;
    UserManager users;
    NetworkService service;
    TaskProcessor processor;

    Client(const fs::path& folder, const Platform& platform)
        : database([folder] { return folder; }),
          users(folder / "user.db"),
          service(ServiceEndpoints{platform.url(), platform.url()}, database, users),
          processor(database, service, users, NotificationCenter::shared()) {
        UserData user;
        user.userid = platform.accountId;
        user.srtPassword = kPassword;
        users.saveUser(user);
    }
};

// From the request until the record is "处理中" at 0.75.
Timing timePipeline(const fs::path& work, const fs::path& video, const fs::path& script) {
    const fs::path folder = work / ("run-" + uuidString());
    fs::create_directories(folder);
    Timing elapsed;
    {
        Platform platform(folder / "platform");
        Client client(folder, platform);
        KestruneItem item = KestruneItem::newTask(script.string(), video.string());
        item.id = client.database.insertItem(item);

        std::mutex mutex;
        std::condition_variable started;
        bool done = false;
        Clock::time_point end;
        double endCpu = 0;
        const auto token = NotificationCenter::shared().subscribe(
            notification::kTaskUpdated, [&](const NotificationCenter::Payload& payload) {
                if (!payload.is_null()) return;
                for (const auto& row : client.database.getAllItems()) {
                    if (row.id == item.id && row.status == status::kProcessing &&
                        row.progress == 0.75) {
                        std::lock_guard lock(mutex);
                        end = Clock::now();
                        endCpu = cpuSeconds();
                        done = true;
                        started.notify_all();
                    }
                }
            });
        const double beginCpu = cpuSeconds();
        const auto begin = Clock::now();
        client.processor.processTask(item);
        client.processor.taskQueue().actor.waitUntilIdle();
        NotificationCenter::shared().unsubscribe(token);
        std::lock_guard lock(mutex);
        if (!done)
            throw std::runtime_error("the job did not reach 0.75: " +
                                     client.database.getAllItems().front().status);
        elapsed = {seconds(end - begin), endCpu - beginCpu};
    }
    fs::remove_all(folder);
    return elapsed;
}

// `ffmpeg` exporting the audio to M4A, and the upload of that file alone.
std::pair<Timing, Timing> timeParts(const fs::path& work, const fs::path& video) {
    const fs::path folder = work / ("parts-" + uuidString());
    fs::create_directories(folder);
    const fs::path audio = folder / "audio.m4a";
    double cpu = cpuSeconds();
    auto begin = Clock::now();
    if (!run("ffmpeg -nostdin -y -i '" + video.string() + "' -vn -map 0:a:0 -c:a aac '" +
             audio.string() + "'")) {
        throw std::runtime_error("ffmpeg export failed");
    }
    const Timing exported{seconds(Clock::now() - begin), cpuSeconds() - cpu};
    Timing uploaded;
    {
        Platform platform(folder / "platform");
        Client client(folder, platform);
        cpu = cpuSeconds();
        begin = Clock::now();
        client.service.uploadFiles(kScript, audio, uuidWithoutDashes());
        uploaded = {seconds(Clock::now() - begin), cpuSeconds() - cpu};
    }
    fs::remove_all(folder);
    return {exported, uploaded};
}

std::vector<int> parseList(const std::string& text) {
    std::vector<int> values;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
        values.push_back(std::stoi(item));
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work =
        fs::temp_directory_path() / ("quillora-pipeline-bench-" + std::to_string(::getuid()));
    std::vector<int> durations = {10, 60};
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--minutes" && i + 1 < argc) {
            durations = parseList(argv[++i]);
        } else if (argument == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            work = argument;
        }
    }
    setConsoleSink([](std::string_view) {});
    try {
        fs::create_directories(work);
        // The job's converted audio goes to the temporary folder; keep it inside the work folder.
        const fs::path temp = work / "tmp";
        fs::create_directories(temp);
        ::setenv("TMPDIR", temp.c_str(), 1);
        const fs::path script = work / "script.txt";
        {
            std::FILE* file = std::fopen(script.c_str(), "wb");
            std::fwrite(kScript.data(), 1, kScript.size(), file);
            std::fclose(file);
        }
        std::printf(
            "Pipeline: request to \"处理中\" at 0.75 against ffmpeg export + upload alone "
            "(median of %d runs, seconds)\n",
            runs);
        std::printf("%-8s %-5s %9s %9s %9s %9s %9s\n", "video", "clock", "pipeline", "ffmpeg",
                    "upload", "ratio", "overhead");
        for (const int minutes : durations) {
            const fs::path video = makeVideo(work, minutes);
            std::vector<double> pipelineWall, pipelineCpu, exportWall, exportCpu, uploadWall,
                uploadCpu, sumWall, sumCpu;
            for (int r = 0; r < runs; ++r) {
                const auto [exported, uploaded] = timeParts(work, video);
                const Timing pipeline = timePipeline(work, video, script);
                pipelineWall.push_back(pipeline.wall);
                pipelineCpu.push_back(pipeline.cpu);
                exportWall.push_back(exported.wall);
                exportCpu.push_back(exported.cpu);
                uploadWall.push_back(uploaded.wall);
                uploadCpu.push_back(uploaded.cpu);
                sumWall.push_back(exported.wall + uploaded.wall);
                sumCpu.push_back(exported.cpu + uploaded.cpu);
            }
            const auto row = [&](const char* clock, const std::vector<double>& pipeline,
                                 const std::vector<double>& exported,
                                 const std::vector<double>& uploaded,
                                 const std::vector<double>& sum) {
                const double ratio = median(pipeline) / median(sum);
                std::printf("%-8s %-5s %9.2f %9.2f %9.2f %9.3f %8.1f%%\n",
                            (std::to_string(minutes) + " min").c_str(), clock, median(pipeline),
                            median(exported), median(uploaded), ratio, (ratio - 1) * 100);
            };
            row("wall", pipelineWall, exportWall, uploadWall, sumWall);
            row("cpu", pipelineCpu, exportCpu, uploadCpu, sumCpu);
            std::fflush(stdout);
        }
        std::printf("Target: overhead under 5%% (ratio < 1.05).\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pipeline_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
