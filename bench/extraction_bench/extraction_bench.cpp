// Extraction speed against decoding alone, and accuracy against the subtitles burned in.
//
// Usage: extraction_bench QUILLORA_CLI VIDEO_FOLDER
// Videos are made once with the ffmpeg command line and libass and kept in VIDEO_FOLDER.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "extraction/text_measures.h"

namespace fs = std::filesystem;
using quillora::extraction::editDistance;
using quillora::extraction::graphemes;

namespace {

struct Cue {
    double start = 0;
    double end = 0;
    std::string text;
};

struct Case {
    std::string name;
    int width;
    int height;
    std::string background;  // lavfi source, without size and rate
    std::string colour;      // ASS &HAABBGGRR
};

constexpr double kSeconds = 60.0;

const std::vector<std::string> kLines = {
    "大家好，欢迎收看今天的节目",
    "Today we talk about the weather",
    "明天北京的天气晴朗，气温二十度",
    "Please remember to bring an umbrella",
    "这部电影讲述了一个感人的故事",
    "我们应该学习新的技术",
    "The train leaves at seven o'clock",
    "经济发展需要长期的规划",
    "请大家注意安全",
    "She opened the window and smiled",
    "谢谢大家的收看，我们下次再见",
    "图书馆周末也开放",
    "Nothing is impossible for a willing heart",
    "他每天早上跑步半个小时",
    "春天来了，公园里开满了鲜花",
    "We will meet again next summer",
    "这个问题需要认真对待",
    "孩子们在操场上踢足球",
    "Good morning, how are you today",
    "请把这份文件交给经理",
};

// Cues of 1.4 to 3.6 s with gaps of 0 to 0.9 s, the same every run.
std::vector<Cue> truthCues() {
    std::vector<Cue> cues;
    double t = 0.6;
    unsigned seed = 7;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 16) % 1000) / 1000.0;
    };
    for (size_t k = 0; t < kSeconds - 4.0; ++k) {
        const double length = 1.4 + 2.2 * next();
        const double gap = next() < 0.25 ? 0.0 : 0.3 + 0.6 * next();
        cues.push_back({t, t + length, kLines[k % kLines.size()]});
        t += length + gap;
    }
    return cues;
}

std::string srtTime(double seconds) {
    const auto ms = static_cast<long long>(seconds * 1000 + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld,%03lld", ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return buffer;
}

double parseTime(const std::string& text) {
    int h = 0, m = 0, s = 0, ms = 0;
    std::sscanf(text.c_str(), "%d:%d:%d,%d", &h, &m, &s, &ms);
    return h * 3600 + m * 60 + s + ms / 1000.0;
}

std::vector<Cue> readSrt(const fs::path& path) {
    std::vector<Cue> cues;
    std::ifstream in(path);
    std::string line;
    static const std::regex timing(R"((\S+) --> (\S+))");
    while (std::getline(in, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, timing)) continue;
        Cue cue{parseTime(match[1]), parseTime(match[2]), ""};
        while (std::getline(in, line) && !line.empty()) {
            if (!cue.text.empty()) cue.text += " ";
            cue.text += line;
        }
        cues.push_back(cue);
    }
    return cues;
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

std::string capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

struct Timing {
    double wall = 0;
    double cpu = 0;  // user + system time of the child processes
};

double childCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Timing measure(const std::function<void()>& work) {
    const double cpuBefore = childCpu();
    const auto start = std::chrono::steady_clock::now();
    work();
    Timing t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.cpu = childCpu() - cpuBefore;
    return t;
}

bool makeVideo(const Case& c, const fs::path& video, const fs::path& truth) {
    std::ofstream out(truth);
    const auto cues = truthCues();
    for (size_t k = 0; k < cues.size(); ++k) {
        out << k + 1 << "\n"
            << srtTime(cues[k].start) << " --> " << srtTime(cues[k].end) << "\n"
            << cues[k].text << "\n\n";
    }
    out.close();
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    const std::string seconds = std::to_string(kSeconds);
    const std::string command =
        "ffmpeg -nostdin -v error -y -t " + seconds + " -f lavfi -i '" + c.background +
        (c.background.find('=') == std::string::npos ? "=" : ":") + "s=" + size +
        ":r=25' -f lavfi -i 'sine=f=440:d=" + seconds + "' -vf \"subtitles=" + truth.string() +
        ":force_style='FontName=Noto Sans CJK SC,FontSize=20,PrimaryColour=" + c.colour +
        ",OutlineColour=&H00000000,Outline=2,Shadow=0'\" -c:v libx264 -preset veryfast -crf 20 "
        "-pix_fmt yuv420p -c:a aac -shortest " +
        quoted(video);
    return run(command) == 0;
}

struct Accuracy {
    double cer = 0;
    int missed = 0;
    int extra = 0;
    double startMs = 0;
    double endMs = 0;
};

// Each true cue takes the unclaimed extracted cue that overlaps it most.
Accuracy compare(const std::vector<Cue>& truth, const std::vector<Cue>& found) {
    Accuracy a;
    std::vector<int> owner(found.size(), -1);
    std::string truthText;
    std::string foundText;
    int matched = 0;
    for (size_t t = 0; t < truth.size(); ++t) {
        int best = -1;
        double bestOverlap = 0;
        for (size_t f = 0; f < found.size(); ++f) {
            if (owner[f] >= 0) continue;
            const double overlap =
                std::min(truth[t].end, found[f].end) - std::max(truth[t].start, found[f].start);
            if (overlap > bestOverlap) {
                bestOverlap = overlap;
                best = static_cast<int>(f);
            }
        }
        if (best < 0) {
            ++a.missed;
            continue;
        }
        const Cue& hit = found[static_cast<size_t>(best)];
        owner[static_cast<size_t>(best)] = static_cast<int>(t);
        truthText += truth[t].text;
        foundText += hit.text;
        a.startMs += std::abs(hit.start - truth[t].start) * 1000;
        a.endMs += std::abs(hit.end - truth[t].end) * 1000;
        ++matched;
    }
    for (int o : owner)
        a.extra += o < 0;
    if (matched > 0) {
        a.startMs /= matched;
        a.endMs /= matched;
    }
    const size_t length = graphemes(truthText).size();
    a.cer = length == 0 ? 0 : 100.0 * editDistance(truthText, foundText) / length;
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: extraction_bench QUILLORA_CLI VIDEO_FOLDER\n";
        return 2;
    }
    const fs::path cli = argv[1];
    const fs::path folder = argv[2];
    fs::create_directories(folder);

    const std::vector<Case> cases = {
        {"720p-plain", 1280, 720, "color=c=0x2a4d69", "&H00FFFFFF"},
        {"720p-busy", 1280, 720, "testsrc2", "&H00FFFFFF"},
        {"1080p-plain", 1920, 1080, "color=c=0x4b3832", "&H00FFFFFF"},
        {"1080p-busy", 1920, 1080, "sierpinski", "&H00FFFFFF"},
        {"1080p-yellow", 1920, 1080, "color=c=0x335533", "&H0000FFFF"},
    };

    std::printf("%-13s %9s %9s %6s %8s %8s %6s %10s %7s %6s %5s %8s %8s\n", "case", "extract_s",
                "decode_s", "ratio", "ext_cpu", "dec_cpu", "cpu_x", "ocr/frames", "CER_%", "missed",
                "extra", "start_ms", "end_ms");
    bool ok = true;
    for (const auto& c : cases) {
        const fs::path video = folder / (c.name + ".mp4");
        const fs::path truth = folder / (c.name + ".truth.srt");
        const fs::path output = folder / (c.name + ".srt");
        if (!fs::exists(video) || !fs::exists(truth)) {
            std::fprintf(stderr, "making %s ...\n", video.c_str());
            if (!makeVideo(c, video, truth)) {
                std::fprintf(stderr, "ffmpeg could not make %s\n", video.c_str());
                fs::remove(video);
                ok = false;
                continue;
            }
        }
        fs::remove(output);
        run("cat " + quoted(video) + " > /dev/null");  // both runs read from the page cache
        Timing decode{1e9, 1e9};
        for (int k = 0; k < 2; ++k) {
            const Timing t = measure(
                [&] { run("ffmpeg -nostdin -v error -i " + quoted(video) + " -f null -"); });
            decode.wall = std::min(decode.wall, t.wall);
            decode.cpu = std::min(decode.cpu, t.cpu);
        }
        std::string summary;
        const Timing extract = measure([&] {
            summary = capture(quoted(cli) + " extract --quiet " + quoted(video) + " 2>/dev/null");
        });
        std::smatch match;
        static const std::regex counts(R"(识别 (\d+) 次 / 采样 (\d+) 帧)");
        std::string ocr = "?";
        if (std::regex_search(summary, match, counts)) ocr = match[1].str() + "/" + match[2].str();
        const Accuracy a = compare(readSrt(truth), readSrt(output));
        std::printf("%-13s %9.2f %9.2f %6.2f %8.2f %8.2f %6.2f %10s %7.2f %6d %5d %8.0f %8.0f\n",
                    c.name.c_str(), extract.wall, decode.wall, extract.wall / decode.wall,
                    extract.cpu, decode.cpu, extract.cpu / decode.cpu, ocr.c_str(), a.cer, a.missed,
                    a.extra, a.startMs, a.endMs);
        std::fflush(stdout);
    }
    std::printf(
        "ratio = wall-time ratio, cpu_x = CPU-time ratio (steadier on a shared machine)\n"
        "targets: 1080p ratio <= 2.00; CER <= 2 %% on plain and yellow cases; start/end <= 80 "
        "ms\n");
    return ok ? 0 : 1;
}
