// Audio export against the ffmpeg command line doing the same job, and text encoding detection
// against bare uchardet, each pair measured in the same run.
//
// Usage: conversion_bench MEDIA_FOLDER [MINUTES] [SAMPLES_PER_ENCODING]
// The recordings (MINUTES long, 60 by default) are made once with the ffmpeg command line and
// kept in MEDIA_FOLDER.
#include <sys/resource.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "conversion/encoding_service.h"
#include "corpus_text.h"
#include "platform/files.h"
#include "platform/media/audio_export.h"
#include "platform/process.h"
#include "text/encoding_detection.h"
#include "text/unicode.h"

namespace fs = std::filesystem;
using namespace quillora;

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

template <typename Job>
Timing timed(int who, Job job) {
    const double cpuBefore = cpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    job();
    Timing timing;
    timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.cpu = cpuSeconds(who) - cpuBefore;
    return timing;
}

bool ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"-nostdin", "-v", "error", "-y"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const ProcessResult result = runProcess("ffmpeg", all);
    if (result.exitStatus != 0) std::fprintf(stderr, "%s", result.standardError.c_str());
    return result.exitStatus == 0;
}

// A tone over pink noise, like speech in a room as far as the encoder's work goes.
bool makeRecordings(const fs::path& folder, int minutes, fs::path& video, fs::path& wav) {
    fs::create_directories(folder);
    const std::string seconds = std::to_string(minutes * 60);
    video = folder / ("recording-" + std::to_string(minutes) + ".mp4");
    wav = folder / ("recording-" + std::to_string(minutes) + ".wav");
    const std::string audio =
        "sine=f=220:sample_rate=44100[a];anoisesrc=c=pink:a=0.2:sample_rate=44100[b];"
        "[a][b]amix=inputs=2,aformat=channel_layouts=stereo";
    if (!fs::exists(video)) {
        std::fprintf(stderr, "making %s ...\n", video.c_str());
        if (!ffmpeg({"-f", "lavfi", "-i", "color=c=gray:s=160x90:r=5", "-f", "lavfi", "-i", audio,
                     "-t", seconds, "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
                     "-shortest", video.string()})) {
            return false;
        }
    }
    if (!fs::exists(wav)) {
        std::fprintf(stderr, "making %s ...\n", wav.c_str());
        if (!ffmpeg(
                {"-f", "lavfi", "-i", audio, "-t", seconds, "-c:a", "pcm_s16le", wav.string()})) {
            return false;
        }
    }
    return true;
}

void exportTable(const fs::path& folder, int minutes) {
    fs::path video, wav;
    if (!makeRecordings(folder, minutes, video, wav)) {
        std::fprintf(stderr, "ffmpeg could not make the recordings\n");
        return;
    }
    std::printf("\nAudio export of a %d-minute recording: ours against the ffmpeg command line\n",
                minutes);
    std::printf("%-22s %10s %10s %8s %10s %10s %8s\n", "job", "ours s", "ffmpeg s", "ratio",
                "ours cpu", "ffmpeg cpu", "ratio");
    struct Job {
        const char* name;
        fs::path input;
        media::AudioFormat format;
        std::string extension, codec;
    };
    const Job jobs[] = {
        {"video (AAC) -> M4A", video, media::AudioFormat::m4a, "m4a", "aac"},
        {"video (AAC) -> WAV", video, media::AudioFormat::wav, "wav", "pcm_s16le"},
        {"WAV -> M4A", wav, media::AudioFormat::m4a, "m4a", "aac"},
        {"WAV -> WAV", wav, media::AudioFormat::wav, "wav", "pcm_s16le"},
    };
    double oursTotal = 0, theirsTotal = 0;
    for (const Job& job : jobs) {
        const fs::path theirsOut = folder / ("ffmpeg-out." + job.extension);
        const fs::path oursOut = folder / ("ours-out." + job.extension);
        const Timing theirs = timed(RUSAGE_CHILDREN, [&] {
            ffmpeg({"-i", job.input.string(), "-vn", "-map", "0:a:0", "-c:a", job.codec,
                    theirsOut.string()});
        });
        const Timing ours =
            timed(RUSAGE_SELF, [&] { media::exportAudio(job.input, oursOut, job.format); });
        oursTotal += ours.wall;
        theirsTotal += theirs.wall;
        std::printf("%-22s %10.2f %10.2f %8.3f %10.2f %10.2f %8.3f\n", job.name, ours.wall,
                    theirs.wall, ours.wall / theirs.wall, ours.cpu, theirs.cpu,
                    ours.cpu / theirs.cpu);
        fs::remove(theirsOut);
        fs::remove(oursOut);
    }
    std::printf("%-22s %10.2f %10.2f %8.3f   (target: ratio <= 1.05)\n", "all", oursTotal,
                theirsTotal, oursTotal / theirsTotal);
}

// ---- encoding detection ----

std::string traditional(std::string_view simplified) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> toTraditional(
        icu::Transliterator::createInstance("Hans-Hant", UTRANS_FORWARD, status));
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(simplified);
    if (U_SUCCESS(status)) toTraditional->transliterate(text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

struct EncodingCase {
    std::string label;
    std::string encoding;  // iconv's name used to write the sample
    std::string bom;
    std::vector<std::string> sources;
    std::set<std::string> accepted;  // names that read the sample right
};

std::string window(const std::u32string& text, size_t start, size_t length) {
    std::string out;
    for (size_t i = start; i < start + length && i < text.size(); ++i)
        appendUtf8(out, text[i]);
    return out;
}

// The same words as subtitle cues: index and time lines around short lines, so most of the
// file is ASCII, as in the SRT files producers exchange.
std::string asSrt(const std::u32string& text, std::mt19937& random) {
    std::string srt;
    size_t at = 0;
    for (int cue = 1; at < text.size(); ++cue) {
        const size_t length = std::uniform_int_distribution<size_t>(6, 16)(random);
        char times[64];
        std::snprintf(times, sizeof times, "00:%02d:%02d,%03d --> 00:%02d:%02d,%03d\n",
                      cue * 3 / 60, cue * 3 % 60, cue * 37 % 1000, (cue * 3 + 2) / 60,
                      (cue * 3 + 2) % 60, cue * 53 % 1000);
        srt += std::to_string(cue) + "\n" + times + window(text, at, length) + "\n\n";
        at += length;
    }
    return srt;
}

std::string joined(const std::vector<std::string_view>& passages) {
    std::string all;
    for (const auto passage : passages) {
        all.append(passage);
        all.push_back('\n');
    }
    return all;
}

void detectionTable(int samplesPerEncoding) {
    const std::string chinese = joined(corpus::kChinese);
    const std::string chineseTraditional = traditional(chinese);
    const std::string japanese = joined(corpus::kJapanese);
    const std::string korean = joined(corpus::kKorean);
    const std::string western = joined(corpus::kWestern);
    const std::vector<std::string> all = {chinese, chineseTraditional, japanese, korean, western};
    const std::vector<EncodingCase> cases = {
        {"GB18030", "GB18030", "", {chinese}, {"GB18030", "GBK", "GB2312", "CP936"}},
        {"GBK", "GBK", "", {chinese}, {"GB18030", "GBK", "GB2312", "CP936"}},
        {"Big5", "BIG5", "", {chineseTraditional}, {"BIG5", "CP950", "BIG5-HKSCS"}},
        {"Shift_JIS", "SHIFT_JIS", "", {japanese}, {"SHIFT_JIS", "SHIFT-JIS", "CP932"}},
        {"EUC-KR", "EUC-KR", "", {korean}, {"EUC-KR", "UHC", "CP949"}},
        {"UTF-16LE", "UTF-16LE", "", all, {"UTF-16LE"}},
        {"UTF-16BE", "UTF-16BE", "", all, {"UTF-16BE"}},
        {"UTF-16LE + BOM", "UTF-16LE", "\xFF\xFE", all, {"UTF-16", "UTF-16LE"}},
        {"UTF-16BE + BOM", "UTF-16BE", "\xFE\xFF", all, {"UTF-16", "UTF-16BE"}},
        {"UTF-8", "UTF-8", "", all, {"UTF-8"}},
        {"Windows-1252", "WINDOWS-1252", "", {western}, {"WINDOWS-1252", "CP1252"}},
    };
    const EncodingService ours;
    const fs::path sample = fs::temp_directory_path() / "quillora-bench-sample.txt";
    std::mt19937 random(20240611);

    std::printf(
        "\nEncoding detection of short texts (20 to 400 characters; half of the East "
        "Asian ones as SRT cues), %d per encoding\n",
        samplesPerEncoding);
    std::printf("%-16s %12s %12s %14s %14s\n", "encoding", "ours right", "uchardet", "ours text ok",
                "uchardet text");
    int oursRight = 0, theirsRight = 0, oursText = 0, theirsText = 0, total = 0;
    bool neverWorse = true;
    for (const EncodingCase& c : cases) {
        int caseOurs = 0, caseTheirs = 0, caseOursText = 0, caseTheirsText = 0, made = 0;
        while (made < samplesPerEncoding) {
            const std::u32string source = codePoints(c.sources[random() % c.sources.size()]);
            const size_t length = std::uniform_int_distribution<size_t>(20, 400)(random);
            const size_t start = std::uniform_int_distribution<size_t>(
                0, source.size() > length ? source.size() - length : 0)(random);
            // Every other sample of the East Asian encodings is a subtitle file.
            const bool srt = made % 2 == 1 && c.sources.size() == 1 && c.label != "Windows-1252";
            const std::string text = srt ? asSrt(codePoints(window(source, start, length)), random)
                                         : window(source, start, length);
            const auto bytes = recodeStrictly(text, "UTF-8", c.encoding);
            if (!bytes) continue;  // a character the encoding lacks
            writeFileAtomically(sample, c.bom + *bytes);
            ++made;

            const std::string printed = runProcess("uchardet", {sample.string()}).standardOutput;
            const std::string theirs =
                EncodingService::mapEncodingToIconv(std::string(trimRegexWhitespace(printed)));
            std::string mine;
            try {
                mine = ours.detectEncoding(sample);
            } catch (const Error& error) {
                mine = error.description();
            }
            auto rightText = [&](const std::string& name) {
                auto decoded = decodeStrictly(c.bom + *bytes, name);
                if (!decoded) return false;
                if (decoded->rfind("\xEF\xBB\xBF", 0) == 0) decoded->erase(0, 3);
                return *decoded == text;
            };
            // Another name that reads these bytes the same (ISO-8859-1 for Windows-1252 text
            // without curly quotes, ASCII for plain text) is as right.
            auto rightName = [&](const std::string& name) {
                return c.accepted.count(name) > 0 || rightText(name);
            };
            if (std::getenv("BENCH_SHOW_MISSES") && !rightText(mine)) {
                std::fprintf(stderr, "%s read as %s (uchardet %s): %s\n", c.label.c_str(),
                             mine.c_str(), theirs.c_str(), text.c_str());
            }
            caseOurs += rightName(mine);
            caseTheirs += rightName(theirs);
            caseOursText += rightText(mine);
            caseTheirsText += rightText(theirs);
        }
        auto percent = [&](int n) { return 100.0 * n / made; };
        std::printf("%-16s %11.1f%% %11.1f%% %13.1f%% %13.1f%%\n", c.label.c_str(),
                    percent(caseOurs), percent(caseTheirs), percent(caseOursText),
                    percent(caseTheirsText));
        neverWorse = neverWorse && caseOurs >= caseTheirs;
        oursRight += caseOurs;
        theirsRight += caseTheirs;
        oursText += caseOursText;
        theirsText += caseTheirsText;
        total += made;
    }
    std::printf("%-16s %11.1f%% %11.1f%% %13.1f%% %13.1f%%\n", "all", 100.0 * oursRight / total,
                100.0 * theirsRight / total, 100.0 * oursText / total, 100.0 * theirsText / total);
    std::printf("target: ours >= 98%% overall (%s) and never below uchardet (%s)\n",
                100.0 * oursRight / total >= 98 ? "met" : "missed", neverWorse ? "met" : "missed");
    fs::remove(sample);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: conversion_bench MEDIA_FOLDER [MINUTES] [SAMPLES]\n");
        return 2;
    }
    const int minutes = argc > 2 ? std::atoi(argv[2]) : 60;
    const int samples = argc > 3 ? std::atoi(argv[3]) : 150;
    if (samples > 0) detectionTable(samples);
    if (minutes > 0) exportTable(argv[1], minutes);
    return 0;
}
