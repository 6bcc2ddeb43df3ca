// Extraction speed against decoding alone, and accuracy against the subtitles burned in.
//
// Usage: extraction_bench QUILLORA_CLI VIDEO_FOLDER [CASE-NAME-PART ...]
// Videos are made once with the ffmpeg command line and libass and kept in VIDEO_FOLDER. Two
// sets: the first five (sans text with an outline over test patterns, 60 s), and the styles set
// (serif and sans, one to three lines, outline, shadow, box or none, fades, a busy moving picture,
// Simplified, Traditional and both, 23.976/25/29.97 fps), whose cue times fall between frames so
// that the truth is known to the frame. CER ignores whitespace.
#include <sys/resource.h>

#include <algorithm>
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
    // Appended, not "'" + std::string: GCC 12 at -O3 reports a false -Wrestrict for that.
    return std::string("'").append(path.string()).append("'");
}

// ---- the styles set ----

const std::vector<std::string> kSimplified = {
    "这次我们一起去山顶看日出", "谢谢你这么忙还来帮我",   "请再说一遍，我没听清楚",
    "他的头发已经全白了",       "我们准备好了，可以出发", "这件事情需要认真考虑",
    "明天早上八点在车站见面",   "你为什么不早点告诉我",   "外面下雨了，记得带伞",
    "这家餐厅的菜味道很好",     "孩子们在公园里放风筝",   "我已经等了你一个小时",
    "她每天晚上都会看书",       "这个价格有点太贵了",     "我们下次再来这里吧",
    "医生说他需要好好休息",     "飞机晚点了两个小时",     "请把门关上，外面很冷",
    "你今天看起来很开心",       "我想学习怎么做蛋糕",     "老师让我们准时交作业",
    "他把钥匙忘在家里了",       "周末我们去海边游泳",     "这条路晚上不太安全",
    "我对这个结果很满意",       "别担心，一切都会好的",   "会议推迟到下周三",
    "他终于找到了新工作",       "妈妈做的饭最好吃",       "我们得赶紧走了，快来不及了",
    "这本小说我看了三遍",       "请帮我拿一下那个箱子",   "今年夏天特别热",
    "你能不能说慢一点",         "火车马上就要开了",       "他们俩从小就是好朋友",
    "窗外的风景真美",           "我刚才给你打过电话",     "这些照片是去年拍的",
    "晚饭以后我们去散步",
};

const std::vector<std::string> kTraditional = {
    "這次我們一起去山頂看日出", "謝謝你這麼忙還來幫我",   "請再說一遍，我沒聽清楚",
    "他的頭髮已經全白了",       "我們準備好了，可以出發", "這件事情需要認真考慮",
    "明天早上八點在車站見面",   "你為甚麼不早點告訴我",   "外面下雨了，記得帶傘",
    "這家餐廳的菜味道很好",     "孩子們在公園裡放風箏",   "我已經等了你一個小時",
    "她每天晚上都會看書",       "這個價格有點太貴了",     "我們下次再來這裡吧",
    "醫生說他需要好好休息",     "飛機晚點了兩個小時",     "請把門關上，外面很冷",
    "你今天看起來很開心",       "我想學習怎麼做蛋糕",     "老師讓我們準時交作業",
    "他把鑰匙忘在家裡了",       "週末我們去海邊游泳",     "這條路晚上不太安全",
    "我對這個結果很滿意",       "別擔心，一切都會好的",   "會議推遲到下週三",
    "他終於找到了新工作",       "媽媽做的飯最好吃",       "我們得趕緊走了，快來不及了",
    "這本小說我看了三遍",       "請幫我拿一下那個箱子",   "今年夏天特別熱",
    "你能不能說慢一點",         "火車馬上就要開了",       "他們倆從小就是好朋友",
    "窗外的風景真美",           "我剛才給你打過電話",     "這些照片是去年拍的",
    "晚飯以後我們去散步",
};

struct StyleCase {
    std::string name;
    int width;
    int height;
    int rateNum;  // frames per second as a fraction
    int rateDen;
    std::string background;  // lavfi video chain, {W} {H} {R} replaced
    std::string font;
    int fontSize;
    std::string colours;  // PrimaryColour..BackColour of the ASS style line
    int borderStyle;      // 1 outline and shadow, 3 box
    double outline;
    double shadow;
    int alignment;  // numpad: 2 bottom centre, 1 bottom left
    int lines;      // per cue
    int script;     // 0 Simplified, 1 Traditional, 2 cue by cue
    int fadeMs;
    bool backToBack;
    double seconds;
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string assTime(double seconds) {
    const auto cs = static_cast<long long>(std::llround(seconds * 100));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60,
                  cs / 100 % 60, cs % 100);
    return buffer;
}

// Cue times sit half a frame after a frame's instant, rounded to the ASS centisecond: the first
// frame that shows a cue (and the first that no longer does) is then beyond doubt.
std::vector<Cue> styleCues(const StyleCase& c, std::vector<std::pair<double, double>>& assTimes) {
    const double rate = static_cast<double>(c.rateNum) / c.rateDen;
    unsigned seed = 11u + static_cast<unsigned>(c.name.size()) * 31u;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 16) % 1000) / 1000.0;
    };
    auto boundary = [&](double t) {
        const double frame = std::floor(t * rate) + 0.5;
        const double ass = std::round(frame / rate * 100) / 100;
        return std::pair(ass, std::ceil(ass * rate) / rate);
    };
    std::vector<Cue> cues;
    double t = 0.7;
    size_t line = c.name.size() * 7;
    for (int k = 0; t < c.seconds - 4.0; ++k) {
        const double length = 1.6 + 2.0 * next();
        const double gap = c.backToBack ? 0.0 : 0.4 + 0.6 * next();
        const auto [startAss, start] = boundary(t);
        const auto [endAss, end] = boundary(t + length);
        const bool traditional = c.script == 1 || (c.script == 2 && next() < 0.5);
        const auto& pool = traditional ? kTraditional : kSimplified;
        std::string text;
        for (int l = 0; l < c.lines; ++l) {
            if (l > 0) text += "\\N";
            text += pool[line++ % pool.size()];
        }
        cues.push_back({start, end, text});
        assTimes.emplace_back(startAss, endAss);
        t += length + gap;
    }
    return cues;
}

bool makeStyleVideo(const StyleCase& c, const fs::path& video, const fs::path& truth) {
    std::vector<std::pair<double, double>> times;
    const auto cues = styleCues(c, times);
    const fs::path ass = truth.parent_path() / (c.name + ".ass");
    {
        std::ofstream out(ass);
        out << "[Script Info]\nScriptType: v4.00+\nPlayResX: " << c.width
            << "\nPlayResY: " << c.height
            << "\nWrapStyle: 2\n\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, "
               "SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, "
               "ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
               "MarginR, MarginV, Encoding\nStyle: Default,"
            << c.font << "," << c.fontSize << "," << c.colours << ",0,0,0,0,100,100,0,0,"
            << c.borderStyle << "," << c.outline << "," << c.shadow << "," << c.alignment << ","
            << c.width / 12 << "," << c.width / 12 << "," << c.height / 18
            << ",1\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
               "Effect, Text\n";
        for (size_t k = 0; k < cues.size(); ++k) {
            const std::string fade = c.fadeMs > 0 ? "{\\fad(" + std::to_string(c.fadeMs) + "," +
                                                        std::to_string(c.fadeMs) + ")}"
                                                  : "";
            out << "Dialogue: 0," << assTime(times[k].first) << "," << assTime(times[k].second)
                << ",Default,,0,0,0,," << fade << cues[k].text << "\n";
        }
    }
    {
        std::ofstream out(truth);
        for (size_t k = 0; k < cues.size(); ++k) {
            out << k + 1 << "\n"
                << srtTime(cues[k].start) << " --> " << srtTime(cues[k].end) << "\n"
                << replaced(cues[k].text, "\\N", "\n") << "\n\n";
        }
    }
    const std::string rate = std::to_string(c.rateNum) + "/" + std::to_string(c.rateDen);
    std::string source = replaced(c.background, "{W}", std::to_string(c.width));
    source = replaced(source, "{H}", std::to_string(c.height));
    source = replaced(source, "{R}", rate);
    const std::string seconds = std::to_string(c.seconds);
    return run("ffmpeg -nostdin -v error -y -f lavfi -i '" + source + "' -t " + seconds +
               " -vf \"subtitles=" + ass.string() + "\" -r " + rate +
               " -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p " + quoted(video)) == 0;
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

std::string withoutSpaces(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != ' ' && c != '\n' && c != '\t') out += c;
    }
    return out;
}

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
        truthText += withoutSpaces(truth[t].text);
        foundText += withoutSpaces(hit.text);
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
        std::cerr << "usage: extraction_bench QUILLORA_CLI VIDEO_FOLDER [--region=x,y,w,h] "
                     "[CASE-NAME-PART ...]\n";
        return 2;
    }
    const fs::path cli = argv[1];
    const fs::path folder = argv[2];
    // --region=x,y,w,h runs every video with that region (how much the text depends on it).
    std::vector<std::string> only;
    std::string regionOption;
    for (int k = 3; k < argc; ++k) {
        const std::string argument = argv[k];
        if (argument.rfind("--region=", 0) == 0) {
            regionOption = " --region " + argument.substr(9);
        } else {
            only.push_back(argument);
        }
    }
    fs::create_directories(folder);

    struct Video {
        std::string name;
        std::function<bool(const fs::path&, const fs::path&)> make;
    };
    std::vector<Video> videos;
    const std::vector<Case> cases = {
        {"720p-plain", 1280, 720, "color=c=0x2a4d69", "&H00FFFFFF"},
        {"720p-busy", 1280, 720, "testsrc2", "&H00FFFFFF"},
        {"1080p-plain", 1920, 1080, "color=c=0x4b3832", "&H00FFFFFF"},
        {"1080p-busy", 1920, 1080, "sierpinski", "&H00FFFFFF"},
        {"1080p-yellow", 1920, 1080, "color=c=0x335533", "&H0000FFFF"},
    };
    for (const auto& c : cases)
        videos.push_back(
            {c.name, [c](const fs::path& v, const fs::path& t) { return makeVideo(c, v, t); }});

    const std::string calm = "gradients=s={W}x{H}:r={R}:c0=0x203040:c1=0x506070:speed=0.002";
    const std::string scene = "testsrc2=s={W}x{H}:r={R},hue=s=0.6,boxblur=8,eq=brightness=-0.05";
    // Cells that are born and die every frame, blown up into blobs: a busy moving picture.
    const std::string busy =
        "life=s=240x135:r={R}:mold=8:ratio=0.4:life_color=0xd0d0c0:death_color=0x304050:"
        "mold_color=0x806040,scale={W}:{H}:flags=bicubic";
    // A colourful zoom that changes everywhere all the time, as a camera move over detail does.
    const std::string zoom = "mandelbrot=s=480x270:r={R},scale={W}:{H}:flags=bicubic";
    const std::string white = "&H00FFFFFF,&H000000FF,&H00000000,&H80000000";
    const std::string sansSC = "Noto Sans CJK SC";
    const std::string serifSC = "Noto Serif CJK SC";
    const std::string sansTC = "Noto Sans CJK TC";
    const std::string serifTC = "Noto Serif CJK TC";
    const std::vector<StyleCase> styles = {
        {"480p-small-sans", 854, 480, 25, 1, scene, sansSC, 28, white, 1, 1.5, 0, 2, 1, 0, 0, false,
         45},
        {"1080p-shadow-2398", 1920, 1080, 24000, 1001, scene, sansSC, 64, white, 1, 3, 2, 2, 1, 0,
         0, false, 45},
        {"720p-serif-2line", 1280, 720, 25, 1, calm, serifSC, 44, white, 1, 2, 0, 2, 2, 0, 0, false,
         45},
        {"720p-serif-1line-2997", 1280, 720, 30000, 1001, scene, serifSC, 46, white, 1, 2, 0, 2, 1,
         0, 0, false, 45},
        {"720p-sans-3line-left", 1280, 720, 25, 1, calm, sansSC, 36, white, 1, 2, 0, 1, 3, 0, 0,
         false, 45},
        {"720p-tc-sans", 1280, 720, 25, 1, scene, sansTC, 46, white, 1, 2, 0, 2, 1, 1, 0, false,
         45},
        {"720p-tc-serif-2line", 1280, 720, 24000, 1001, calm, serifTC, 44, white, 1, 2, 1, 2, 2, 1,
         0, false, 45},
        {"720p-mixed-scripts", 1280, 720, 25, 1, scene, serifSC, 46, white, 1, 2, 0, 2, 1, 2, 0,
         false, 45},
        {"1080p-busy-thin", 1920, 1080, 25, 1, busy, sansSC, 62, white, 1, 1, 0, 2, 1, 0, 0, false,
         45},
        {"1080p-busy-zoom", 1920, 1080, 25, 1, zoom, sansSC, 62, white, 1, 1, 0, 2, 2, 0, 0, false,
         45},
        {"720p-box", 1280, 720, 25, 1, scene, sansSC, 44,
         "&H00FFFFFF,&H000000FF,&H60000000,&H60000000", 3, 6, 0, 2, 1, 0, 0, false, 45},
        {"720p-plain-serif", 1280, 720, 25, 1, "color=c=0x404448:s={W}x{H}:r={R}", serifSC, 46,
         "&H00F0F0F0,&H000000FF,&H00000000,&H00000000", 1, 0, 0, 2, 1, 0, 0, false, 45},
        {"720p-fades", 1280, 720, 25, 1, scene, sansSC, 46, white, 1, 2, 1, 2, 1, 0, 200, false,
         45},
        {"720p-2997-backtoback", 1280, 720, 30000, 1001, scene, serifSC, 46, white, 1, 2, 0, 2, 1,
         0, 0, true, 45},
    };
    for (const auto& c : styles)
        videos.push_back({c.name, [c](const fs::path& v, const fs::path& t) {
                              return makeStyleVideo(c, v, t);
                          }});

    std::printf("%-22s %6s %6s %7s %6s %6s %6s %6s %6s %6s %8s\n", "case", "ratio", "cpu_x",
                "ocr/cue", "CER_%", "cues", "missed", "extra", "start", "end", "frames");
    bool ok = true;
    double cerSum = 0, startSum = 0, endSum = 0;
    int counted = 0, cuesAll = 0, wrongAll = 0;
    for (const auto& v : videos) {
        if (!only.empty() && std::none_of(only.begin(), only.end(), [&](const std::string& part) {
                return v.name.find(part) != std::string::npos;
            })) {
            continue;
        }
        const fs::path video = folder / (v.name + ".mp4");
        const fs::path truth = folder / (v.name + ".truth.srt");
        const fs::path output = folder / (v.name + ".srt");
        if (!fs::exists(video) || !fs::exists(truth)) {
            std::fprintf(stderr, "making %s ...\n", video.c_str());
            if (!v.make(video, truth)) {
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
            summary = capture(quoted(cli) + " extract --quiet" + regionOption + " " +
                              quoted(video) + " 2>/dev/null");
        });
        std::smatch match;
        static const std::regex counts(R"(识别 (\d+) 次 / 采样 (\d+) 帧)");
        int calls = -1;
        std::string frames = "?";
        if (std::regex_search(summary, match, counts)) {
            calls = std::stoi(match[1].str());
            frames = match[2].str();
        }
        const auto truthCues = readSrt(truth);
        const Accuracy a = compare(truthCues, readSrt(output));
        const double perCue =
            truthCues.empty() || calls < 0 ? 0 : static_cast<double>(calls) / truthCues.size();
        std::printf("%-22s %6.2f %6.2f %7.2f %6.2f %6zu %6d %6d %6.0f %6.0f %8s\n", v.name.c_str(),
                    extract.wall / decode.wall, extract.cpu / decode.cpu, perCue, a.cer,
                    truthCues.size(), a.missed, a.extra, a.startMs, a.endMs, frames.c_str());
        std::fflush(stdout);
        cerSum += a.cer;
        startSum += a.startMs;
        endSum += a.endMs;
        ++counted;
        cuesAll += static_cast<int>(truthCues.size());
        wrongAll += a.missed + a.extra;
    }
    if (counted > 0) {
        std::printf(
            "mean CER %.2f %%, missed+extra %d of %d cues, mean start %.0f ms, end %.0f ms\n",
            cerSum / counted, wrongAll, cuesAll, startSum / counted, endSum / counted);
    }
    std::printf(
        "ratio = wall time over decode-only (ffmpeg), cpu_x = the same in CPU time (steadier on a "
        "shared machine); ocr/cue = recognitions per true cue; start/end = mean error in ms\n"
        "targets: mean CER <= 3 %%, none above 6 %%; at most 1 cue in 50 missed or extra; mean "
        "start/end error <= 80 ms; ratio <= 2 on every video\n");
    return ok ? 0 : 1;
}
