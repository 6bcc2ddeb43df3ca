// Throughput of the text paths every finished task runs through: decoding a downloaded SRT
// (addfuhao + addemo), closing its gaps (adjustTimeGaps) and reading it (SRTParser::parse).
// Each runs on a 10,000-cue and a 100,000-cue SRT; the per-byte cost of the two sizes is
// compared, so anything worse than linear shows up as a ratio well above 1.

#include "platform/console.h"
#include "subtitles/srt_parser.h"
#include "text/script_codec.h"
#include "text/time_codes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using quillora::removeFuhao;

// Script lines as users write them: full-width and ASCII punctuation, quotes, line-initial
// digits and the odd short line.
const std::vector<std::string> kScriptLines = {
    "“今天我们聊一聊，字幕是怎么做出来的。”",
    "第一步：把录音和文稿配对, then upload both.",
    "3 个人同时说话的时候？就要拆开来。",
    "《书》里写的是这样的——真的吗？",
    "\"Quoted English line, with commas; and a slash/too.\"",
    "价格是 100% 透明的 & 可以随时查询【详情见官网】。",
    "好",
    "x 轴上的数据 -> 需要重新对齐！",
};

std::string makeSrt(std::size_t cues) {
    std::string srt;
    srt.reserve(cues * 96);
    double start = 1.0;
    for (std::size_t i = 0; i < cues; ++i) {
        // Gaps of 0.1 s to 0.7 s, so some are closed and some are kept.
        double end = start + 1.5 + static_cast<double>(i % 5) * 0.3;
        std::string text = removeFuhao(kScriptLines[i % kScriptLines.size()]);
        srt += std::to_string(i + 1) + "\n" + quillora::timeString(start) + " --> " +
               quillora::timeString(end) + "\n" + text + "\n\n";
        start = end + 0.1 + static_cast<double>(i % 7) * 0.1;
    }
    return srt;
}

// Best of several runs, in seconds.
double timeBest(const std::function<std::size_t()>& run, int repeats) {
    double best = 1e300;
    std::size_t sink = 0;
    for (int i = 0; i < repeats; ++i) {
        auto begin = std::chrono::steady_clock::now();
        sink += run();
        auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(end - begin).count());
    }
    if (sink == 0) std::puts("(empty result)");
    return best;
}

struct Operation {
    const char* name;
    std::function<std::size_t(const std::string&)> run;
};

}  // namespace

int main() {
    // The encoder's "too short" diagnostics are not part of what is measured.
    quillora::setConsoleSink([](std::string_view) {});
    const std::vector<Operation> operations = {
        {"decode (addfuhao + addemo)",
         [](const std::string& srt) { return quillora::addemo(quillora::addfuhao(srt)).size(); }},
        {"adjustTimeGaps (10 frames)",
         [](const std::string& srt) { return quillora::adjustTimeGaps(srt, 10).size(); }},
        {"SRTParser::parse",
         [](const std::string& srt) { return quillora::SRTParser().parse(srt).size(); }},
    };
    const std::string small = makeSrt(10000);
    const std::string large = makeSrt(100000);
    std::printf("SRT sizes: 10,000 cues = %.2f MB, 100,000 cues = %.2f MB\n",
                static_cast<double>(small.size()) / 1e6, static_cast<double>(large.size()) / 1e6);
    std::printf("%-28s %14s %14s %22s\n", "operation", "10k cues MB/s", "100k cues MB/s",
                "per-byte cost 100k/10k");
    for (const auto& operation : operations) {
        double smallTime = timeBest([&] { return operation.run(small); }, 7);
        double largeTime = timeBest([&] { return operation.run(large); }, 3);
        double smallRate = static_cast<double>(small.size()) / 1e6 / smallTime;
        double largeRate = static_cast<double>(large.size()) / 1e6 / largeTime;
        std::printf("%-28s %14.1f %14.1f %22.2f\n", operation.name, smallRate, largeRate,
                    smallRate / largeRate);
    }
    return 0;
}
