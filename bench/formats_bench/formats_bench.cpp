// A 10,000-cue SRT through each editor writer and back through each reader. Every direction is
// timed in memory and through files (read the input, write the output atomically). Readers are
// compared with `xmllint --noout` on the same document, run side by side: the bare parse of
// the file by the same XML library, a floor that no reader of the whole document can beat.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "subtitles/editor_xml_reader.h"
#include "subtitles/fcpxml_writer.h"
#include "subtitles/premiere_writer.h"
#include "subtitles/srt_parser.h"
#include "text/time_codes.h"

namespace {

namespace fs = std::filesystem;
using namespace quillora;

constexpr std::size_t kCues = 10000;
constexpr double kTargetSeconds = 0.200;

const std::vector<std::string> kLines = {
    "今天我们聊一聊，字幕是怎么做出来的。",
    "第一步：把录音和文稿配对, then upload both.",
    "“引号里的话” & <尖括号> 也要能读回来",
    "Quoted \"English\" line, with commas; and a slash/too.",
};

// Single-line cues, or two lines per cue (speaker, then the spoken text) for the plate layout.
std::string makeSrt(bool plate) {
    std::string srt;
    double start = 1.0;
    for (std::size_t i = 0; i < kCues; ++i) {
        const double end = start + 1.5 + static_cast<double>(i % 5) * 0.3;
        srt += std::to_string(i + 1) + "\n" + timeString(start) + " --> " + timeString(end) + "\n";
        if (plate) srt += (i % 3 == 0 ? "解说" : "主持人") + std::string("\n");
        srt += kLines[i % kLines.size()] + "\n\n";
        start = end + 0.1 + static_cast<double>(i % 7) * 0.1;
    }
    return srt;
}

// Best of several runs: wall time, and CPU time of this process and the children it waited
// for. On a shared machine the CPU time is the figure that does not depend on other load.
struct Timing {
    double wall = 1e300;
    double cpu = 1e300;
};

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

Timing measure(const std::function<std::size_t()>& run, int repeats) {
    Timing best;
    std::size_t sink = 0;
    for (int i = 0; i < repeats; ++i) {
        const double cpuBegin = cpuSeconds();
        const auto begin = std::chrono::steady_clock::now();
        sink += run();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        best.wall = std::min(best.wall, wall);
        best.cpu = std::min(best.cpu, cpuSeconds() - cpuBegin);
    }
    if (sink == 0) std::puts("(empty result)");
    return best;
}

Timing xmllint(const fs::path& file, int repeats) {
    const std::string command = "xmllint --noout '" + file.string() + "' 2>/dev/null";
    return measure(
        [&] { return static_cast<std::size_t>(std::system(command.c_str()) == 0 ? 1 : 0); },
        repeats);
}

void row(const char* name, const Timing& time, std::size_t bytes, const Timing* peer = nullptr) {
    std::printf("  %-34s cpu %8.1f ms  wall %8.1f ms  %7.1f MB  %-13s", name, time.cpu * 1000,
                time.wall * 1000, bytes / 1e6,
                time.cpu < kTargetSeconds ? "within 200 ms" : "OVER 200 ms");
    if (peer) {
        std::printf("  xmllint cpu %.1f ms, ratio %.2f", peer->cpu * 1000, time.cpu / peer->cpu);
    }
    std::printf("\n");
}

}  // namespace

int main() {
    setConsoleSink([](std::string_view) {});
    const fs::path folder =
        fs::temp_directory_path() / ("formats-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const int repeats = 5;
    // The Premiere documents are hundreds of megabytes; fewer runs keep `make bench` short.
    const int largeRepeats = 3;

    const std::string single = makeSrt(false);
    const std::string plate = makeSrt(true);
    writeFileAtomically(folder / "single.srt", single);
    writeFileAtomically(folder / "plate.srt", plate);
    const auto stamps = FcpxmlStamps::system();
    std::printf("formats_bench: %zu cues (single-line SRT %.1f MB, two-line SRT %.1f MB)\n", kCues,
                single.size() / 1e6, plate.size() / 1e6);

    // FCPXML.
    std::string fcpxml;
    const Timing fcpWrite =
        measure([&] { return (fcpxml = buildFcpxml(single, "bench", {}, stamps).document).size(); },
                repeats);
    const Timing fcpWriteFile = measure(
        [&] {
            convertSRTFileToFCPXML(folder / "single.srt", folder / "single.fcpxml", {}, stamps);
            return std::size_t{1};
        },
        repeats);
    const Timing fcpRead = measure([&] { return fcpxmlDocumentToSrt(fcpxml).size(); }, repeats);
    const Timing fcpReadFile =
        measure([&] { return readFcpxmlFileAsSrt(folder / "single.fcpxml").size(); }, repeats);
    const Timing fcpPeer = xmllint(folder / "single.fcpxml", repeats);
    std::printf("FCPXML 1.7\n");
    row("write SRT -> FCPXML (memory)", fcpWrite, fcpxml.size());
    row("write SRT file -> FCPXML file", fcpWriteFile, fcpxml.size());
    row("read FCPXML -> SRT (memory)", fcpRead, fcpxml.size(), &fcpPeer);
    row("read FCPXML file -> SRT", fcpReadFile, fcpxml.size(), &fcpPeer);

    // Premiere, one title per cue and the plate layout (pictures + two title tracks).
    for (const bool platelayout : {false, true}) {
        const fs::path srtFile = folder / (platelayout ? "plate.srt" : "single.srt");
        const std::vector<SubtitleItem> items = readsrtof(srtFile);
        std::string xml;
        const Timing write = measure(
            [&] { return (xml = buildPremiereXml(items, "bench", 25, 1920, 1080, false)).size(); },
            largeRepeats);
        const Timing writeFile = measure(
            [&] {
                writePremiereXmlFile(srtFile, folder / "out.xml", 25, 1920, 1080, false, [] {
                    return std::string("F46D5002-C9C8-4BC5-8557-2F8D9AE0938B");
                });
                return std::size_t{1};
            },
            largeRepeats);
        const Timing read = measure([&] { return xmemlDocumentToSrt(xml).size(); }, largeRepeats);
        const Timing readFile =
            measure([&] { return readXmemlFileAsSrt(folder / "out.xml").size(); }, largeRepeats);
        const Timing peer = xmllint(folder / "out.xml", largeRepeats);
        std::printf("Premiere xmeml 4, %s\n",
                    platelayout ? "plate layout (3 tracks)" : "single-line titles");
        row("write SRT -> xmeml (memory)", write, xml.size());
        row("write SRT file -> xmeml file", writeFile, xml.size());
        row("read xmeml -> SRT (memory)", read, xml.size(), &peer);
        row("read xmeml file -> SRT", readFile, xml.size(), &peer);
    }
    fs::remove_all(folder);
    return 0;
}
