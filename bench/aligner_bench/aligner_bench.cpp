// Alignment accuracy and speed of the speech aligner next to the energy baseline, on recordings
// with known line boundaries.
//
// Usage: aligner_bench DATA_FOLDER [--verbose] [--seed-offset N]
// The recordings are synthesised once from pinyin by espeak-ng, with speakers, speeds and
// pitches changing between lines, pauses of 0.15-1.5 s between lines and inside lines at commas,
// noise 30 dB below the speech, light reverb (sox), as WAV or AAC, 1 and 10 minutes long, some
// with script lines missing from the audio or unscripted speech. They are kept in DATA_FOLDER.
// --seed-offset makes another set of the same kinds (use another folder), to check that figures
// hold beyond the set the aligner was tuned on.
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "corpus.h"
#include "platform/files.h"
#include "platform/media/media_file.h"
#include "server/aligner.h"
#include "server/platform_server.h"
#include "server/speech_aligner.h"
#include "text/script_codec.h"
#include "text/unicode.h"

namespace fs = std::filesystem;
using namespace quillora;
using server::Aligner;
using server::LineTiming;

namespace {

// Bump when the recordings change, so cached ones are made again.
constexpr int kDataVersion = 3;
constexpr int kSynthRate = 22050;

// A small deterministic generator, the same on every machine.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    double uniform(double low = 0, double high = 1) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return low + (high - low) * static_cast<double>(state_ >> 11) / 9007199254740992.0;
    }
    int below(int n) { return std::min(n - 1, static_cast<int>(uniform() * n)); }
    double logUniform(double low, double high) {
        return std::exp(uniform(std::log(low), std::log(high)));
    }

  private:
    std::uint64_t state_;
};

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

struct Speaker {
    std::string voice;  // espeak-ng variant
    double speed;       // espeak-ng words (here: syllables) per minute
    double pitch;       // espeak-ng pitch 0-99
};

struct RecordingSpec {
    std::string name;
    int lines;
    std::uint64_t seed;
    std::vector<Speaker> speakers;
    bool dialogue;      // speakers alternate line by line (else they take turns in long blocks)
    std::string noise;  // "pink", "brown" or "" for a faint hiss only
    bool reverb;
    std::string format;  // "wav" (44.1 kHz stereo), "wav48" (48 kHz mono) or "m4a"
    int missing;         // script lines left out of the audio
    int adLibs;          // unscripted utterances put between lines
};

struct TruthLine {
    std::string script;
    bool spoken = true;
    double start = 0;
    double end = 0;
};

struct Recording {
    std::string name;
    fs::path audio;
    double seconds = 0;
    std::vector<TruthLine> lines;
};

// Pinyin with tone numbers, one syllable a word: ICU reads the characters one at a time, so
// multi-character words come out spaced as the synthesiser wants them.
std::string toPinyin(const std::string& text) {
    static std::mutex mutex;
    static std::unique_ptr<icu::Transliterator> transliterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
            "Han-Latin; Latin-NumericPinyin", UTRANS_FORWARD, status));
        if (U_FAILURE(status)) throw std::runtime_error("ICU has no Han-Latin transliterator");
        return t;
    }();
    std::lock_guard lock(mutex);
    std::string out;
    for (std::string_view cluster : graphemes(text)) {
        icu::UnicodeString piece = icu::UnicodeString::fromUTF8(
            icu::StringPiece(cluster.data(), static_cast<int32_t>(cluster.size())));
        transliterator->transliterate(piece);
        std::string latin;
        piece.toUTF8String(latin);
        out += latin + " ";
    }
    return out;
}

// SSML for one line: Chinese as pinyin, English words in an English voice, the line's commas as
// breaks of the given lengths.
std::string lineSsml(const std::string& text, Random& random) {
    std::string ssml = "<speak>";
    std::string run;
    bool latinRun = false;
    const auto flush = [&] {
        if (run.find_first_not_of(' ') == std::string::npos) {
            run.clear();
            return;
        }
        if (latinRun)
            ssml += "<voice xml:lang=\"en\">" + run + "</voice>";
        else
            ssml += "<voice name=\"cmn-latn-pinyin\">" + toPinyin(run) + "</voice>";
        run.clear();
    };
    for (std::string_view cluster : graphemes(text)) {
        const char32_t c = codePoints(cluster).front();
        const bool latin = c < 128 && std::isalpha(static_cast<int>(c));
        const bool pause = cluster == "，" || cluster == "、" || cluster == "；";
        if (pause) {
            flush();
            const int ms = static_cast<int>(random.uniform(120, 450));
            ssml += "<break time=\"" + std::to_string(ms) + "ms\"/>";
            continue;
        }
        if (isPunctuation(c) && cluster != ".") continue;
        if (latin != latinRun && !run.empty()) flush();
        latinRun = latin;
        run += std::string(cluster);
    }
    flush();
    return ssml + "</speak>";
}

// The samples of one synthesised utterance and where its sound begins and ends: the first and
// last 5 ms stretch within 40 dB of the loudest.
struct Clip {
    std::vector<float> samples;
    size_t onset = 0;
    size_t offset = 0;
};

Clip synthesise(const fs::path& folder, const std::string& text, const Speaker& speaker,
                Random& random, int index) {
    const fs::path wav = folder / ("clip" + std::to_string(index) + ".wav");
    const std::string command = "espeak-ng -m -v cmn-latn-pinyin+" + speaker.voice + " -s " +
                                std::to_string(static_cast<int>(speaker.speed)) + " -p " +
                                std::to_string(static_cast<int>(speaker.pitch)) + " -w " +
                                quoted(wav.string()) + " " + quoted(lineSsml(text, random));
    if (!run(command)) throw std::runtime_error("espeak-ng failed on " + text);
    Clip clip;
    clip.samples = media::decodeAudioMono(wav, kSynthRate);
    fs::remove(wav);
    const size_t block = kSynthRate / 200;
    std::vector<double> level;
    for (size_t i = 0; i + block <= clip.samples.size(); i += block) {
        double sum = 0;
        for (size_t j = i; j < i + block; ++j)
            sum += static_cast<double>(clip.samples[j]) * clip.samples[j];
        level.push_back(std::sqrt(sum / static_cast<double>(block)));
    }
    const double loudest = level.empty() ? 0 : *std::max_element(level.begin(), level.end());
    if (loudest <= 0) throw std::runtime_error("espeak-ng gave silence for " + text);
    size_t first = 0;
    while (level[first] < loudest / 100)
        ++first;
    size_t last = level.size() - 1;
    while (level[last] < loudest / 100)
        --last;
    // Keep a little of the synthesiser's lead-in and tail; truth is the sound, not the cut.
    const size_t margin = kSynthRate / 20;
    const size_t from = first * block > margin ? first * block - margin : 0;
    const size_t to = std::min(clip.samples.size(), (last + 1) * block + margin);
    clip.onset = first * block - from;
    clip.offset = (last + 1) * block - from;
    clip.samples = std::vector<float>(clip.samples.begin() + static_cast<std::ptrdiff_t>(from),
                                      clip.samples.begin() + static_cast<std::ptrdiff_t>(to));
    return clip;
}

void writeRaw(const fs::path& file, const std::vector<float>& samples) {
    writeFileAtomically(file, std::string(reinterpret_cast<const char*>(samples.data()),
                                          samples.size() * sizeof(float)));
}

std::vector<float> readRaw(const fs::path& file) {
    const std::string bytes = readFile(file);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// Noise shaped like a room: pink (-3 dB an octave) or brown (-6 dB an octave) at unit RMS.
std::vector<float> noise(const std::string& colour, size_t count, Random& random) {
    std::vector<float> out(count);
    double b0 = 0, b1 = 0, b2 = 0, brown = 0;
    for (size_t i = 0; i < count; ++i) {
        const double white = random.uniform(-1, 1);
        double value;
        if (colour == "brown") {
            brown = 0.997 * brown + 0.06 * white;
            value = brown;
        } else {
            b0 = 0.99765 * b0 + white * 0.0990460;
            b1 = 0.96300 * b1 + white * 0.2965164;
            b2 = 0.57000 * b2 + white * 1.0526913;
            value = b0 + b1 + b2 + white * 0.1848;
        }
        out[i] = static_cast<float>(value);
    }
    double sum = 0;
    for (float v : out)
        sum += static_cast<double>(v) * v;
    const double rms = std::sqrt(sum / static_cast<double>(std::max<size_t>(1, count)));
    for (float& v : out)
        v = static_cast<float>(v / rms);
    return out;
}

void makeRecording(const RecordingSpec& spec, const fs::path& folder) {
    Random random(spec.seed);
    const fs::path work = folder / (spec.name + ".work");
    fs::create_directories(work);

    // The script: corpus lines from a random place, wrapping round.
    std::vector<std::string> script;
    const int first = random.below(static_cast<int>(bench::kCorpus.size()));
    for (int i = 0; i < spec.lines; ++i)
        script.emplace_back(bench::kCorpus[static_cast<size_t>(first + i) % bench::kCorpus.size()]);
    std::vector<bool> spoken(script.size(), true);
    for (int m = 0; m < spec.missing; ++m) {
        // Missing lines are never the first or last and never next to one another.
        for (int tries = 0; tries < 100; ++tries) {
            const int i = 1 + random.below(spec.lines - 2);
            if (!spoken[static_cast<size_t>(i)] || !spoken[static_cast<size_t>(i - 1)] ||
                !spoken[static_cast<size_t>(i + 1)])
                continue;
            spoken[static_cast<size_t>(i)] = false;
            break;
        }
    }
    std::vector<int> adLibAfter;
    for (int a = 0; a < spec.adLibs; ++a)
        adLibAfter.push_back(1 + random.below(spec.lines - 2));

    // Who speaks each line, and how.
    std::vector<Speaker> voices(script.size());
    size_t current = 0;
    for (size_t i = 0; i < script.size(); ++i) {
        if (spec.dialogue ? random.uniform() < 0.7 : random.uniform() < 0.03)
            current = (current + 1 +
                       static_cast<size_t>(random.below(static_cast<int>(spec.speakers.size())))) %
                      spec.speakers.size();
        Speaker s = spec.speakers[current];
        s.speed *= random.uniform(0.88, 1.12);
        s.pitch = std::clamp(s.pitch + random.uniform(-8, 8), 5.0, 95.0);
        voices[i] = s;
    }

    // Synthesise the lines two at a time.
    std::vector<Clip> clips(script.size());
    std::vector<Clip> adLibClips(adLibAfter.size());
    std::vector<Random> lineRandom;
    for (size_t i = 0; i < script.size() + adLibAfter.size(); ++i)
        lineRandom.emplace_back(spec.seed * 1000 + i);
    std::atomic<size_t> next{0};
    std::string failure;
    std::mutex failureMutex;
    const auto worker = [&] {
        for (size_t i = next++; i < script.size() + adLibAfter.size(); i = next++) {
            try {
                if (i < script.size()) {
                    if (spoken[i])
                        clips[i] = synthesise(work, script[i], voices[i], lineRandom[i],
                                              static_cast<int>(i));
                } else {
                    const size_t a = i - script.size();
                    adLibClips[a] =
                        synthesise(work, std::string(bench::kAdLibs[a % bench::kAdLibs.size()]),
                                   voices[static_cast<size_t>(adLibAfter[a])], lineRandom[i],
                                   static_cast<int>(i));
                }
            } catch (const std::exception& error) {
                std::lock_guard lock(failureMutex);
                failure = error.what();
            }
        }
    };
    { std::jthread a(worker), b(worker); }
    if (!failure.empty()) throw std::runtime_error(failure);

    // Join them with pauses of 0.15-1.5 s, more often short than long.
    std::vector<float> dry(static_cast<size_t>(random.uniform(0.4, 1.5) * kSynthRate), 0.0f);
    std::vector<TruthLine> truth;
    double speechSquares = 0;
    size_t speechSamples = 0;
    const auto append = [&](const Clip& clip, double gain) {
        const size_t at = dry.size();
        for (float s : clip.samples) {
            dry.push_back(static_cast<float>(s * gain));
            speechSquares += static_cast<double>(dry.back()) * dry.back();
        }
        speechSamples += clip.samples.size();
        return std::pair(static_cast<double>(at + clip.onset) / kSynthRate,
                         static_cast<double>(at + clip.offset) / kSynthRate);
    };
    for (size_t i = 0; i < script.size(); ++i) {
        TruthLine line;
        line.script = script[i];
        line.spoken = spoken[i];
        if (spoken[i]) {
            if (!truth.empty())
                dry.resize(
                    dry.size() + static_cast<size_t>(random.logUniform(0.15, 1.5) * kSynthRate),
                    0.0f);
            std::tie(line.start, line.end) = append(clips[i], random.logUniform(0.5, 1.4));
        }
        truth.push_back(line);
        for (size_t a = 0; a < adLibAfter.size(); ++a) {
            if (static_cast<size_t>(adLibAfter[a]) != i) continue;
            dry.resize(dry.size() + static_cast<size_t>(random.uniform(0.3, 0.8) * kSynthRate),
                       0.0f);
            append(adLibClips[a], 0.7);
        }
    }
    dry.resize(dry.size() + static_cast<size_t>(random.uniform(0.5, 1.5) * kSynthRate), 0.0f);
    const double speechRms = std::sqrt(speechSquares / static_cast<double>(speechSamples));

    // Reverb from sox, then noise 30 dB below the speech, then the upload format.
    std::vector<float> wet = dry;
    if (spec.reverb) {
        writeRaw(work / "dry.f32", dry);
        const std::string raw = "-t raw -e floating-point -b 32 -r 22050 -c 1 ";
        if (!run("sox " + raw + quoted((work / "dry.f32").string()) + " " + raw +
                 quoted((work / "wet.f32").string()) + " reverb 30 60 35 100 0 0"))
            throw std::runtime_error("sox reverb failed");
        wet = readRaw(work / "wet.f32");
        wet.resize(dry.size());
    }
    const std::vector<float> room =
        noise(spec.noise.empty() ? "pink" : spec.noise, wet.size(), random);
    const double noiseRms = speechRms * std::pow(10.0, (spec.noise.empty() ? -55.0 : -30.0) / 20);
    for (size_t i = 0; i < wet.size(); ++i)
        wet[i] = std::clamp(static_cast<float>(wet[i] + room[i] * noiseRms), -1.0f, 1.0f);
    writeRaw(work / "final.f32", wet);
    const std::string input =
        "ffmpeg -nostdin -y -f f32le -ar 22050 -ac 1 -i " + quoted((work / "final.f32").string());
    fs::path audio;
    std::string encode;
    if (spec.format == "m4a") {
        audio = folder / (spec.name + ".m4a");
        encode = " -ar 44100 -c:a aac -b:a 96k ";
    } else if (spec.format == "wav48") {
        audio = folder / (spec.name + ".wav");
        encode = " -ar 48000 -c:a pcm_s16le ";
    } else {
        audio = folder / (spec.name + ".wav");
        encode = " -ar 44100 -ac 2 -c:a pcm_s16le ";
    }
    if (!run(input + encode + quoted(audio.string())))
        throw std::runtime_error("ffmpeg could not write " + audio.string());

    std::ostringstream table;
    table.precision(10);
    table << audio.filename().string() << "\t" << static_cast<double>(wet.size()) / kSynthRate
          << "\n";
    for (const TruthLine& line : truth)
        table << (line.spoken ? 1 : 0) << "\t" << line.start << "\t" << line.end << "\t"
              << line.script << "\n";
    writeFileAtomically(folder / (spec.name + ".truth"), table.str());
    fs::remove_all(work);
}

Recording loadRecording(const fs::path& folder, const std::string& name) {
    std::istringstream in(readFile(folder / (name + ".truth")));
    Recording recording;
    recording.name = name;
    std::string header;
    std::getline(in, header);
    const auto tab = header.find('\t');
    recording.audio = folder / header.substr(0, tab);
    recording.seconds = std::stod(header.substr(tab + 1));
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream fields(row);
        TruthLine line;
        int spoken = 0;
        fields >> spoken >> line.start >> line.end;
        fields.get();
        std::getline(fields, line.script);
        line.spoken = spoken != 0;
        recording.lines.push_back(line);
    }
    return recording;
}

std::vector<RecordingSpec> specs(std::uint64_t seedOffset) {
    const Speaker calm{"m3", 135, 40}, brisk{"f2", 195, 60}, deep{"m1", 160, 25},
        bright{"f4", 170, 70}, slow{"m7", 120, 45};
    std::vector<RecordingSpec> all = {
        {"short-narration-wav", 16, 11, {calm}, false, "pink", false, "wav", 0, 0},
        {"short-dialogue-m4a", 18, 12, {calm, brisk}, true, "brown", true, "m4a", 2, 0},
        {"short-fast-adlib-m4a", 20, 13, {brisk}, false, "pink", true, "m4a", 0, 1},
        {"short-dialogue-wav48", 16, 14, {deep, bright}, true, "brown", false, "wav48", 2, 0},
        {"short-three-voices-m4a", 16, 15, {calm, bright, deep}, true, "pink", true, "m4a", 0, 0},
        {"short-slow-reverb-wav", 12, 16, {slow}, false, "", true, "wav", 2, 0},
        {"long-dialogue-m4a", 150, 21, {calm, brisk}, true, "pink", true, "m4a", 2, 2},
        {"long-turns-wav", 150, 22, {deep, bright, slow}, false, "brown", false, "wav", 2, 1},
    };
    for (RecordingSpec& spec : all)
        spec.seed += seedOffset;
    return all;
}

struct Outcome {
    std::vector<LineTiming> ranges;
    double wallSeconds = 0;
    std::string error;
};

Outcome runAligner(Aligner& aligner, const Recording& recording) {
    // The platform receives the script as the client uploads it: punctuation as tokens.
    std::string text;
    for (const TruthLine& line : recording.lines)
        text += line.script + "\n";
    const std::vector<std::string> script = server::scriptLines(removeFuhao(text));
    Outcome outcome;
    if (script.size() != recording.lines.size()) {
        outcome.error = "the encoded script has another line count";
        return outcome;
    }
    const auto started = std::chrono::steady_clock::now();
    try {
        outcome.ranges = aligner.align(recording.audio, script, {}, {});
    } catch (const std::exception& error) {
        outcome.error = error.what();
    }
    outcome.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

struct Tally {
    int lines = 0;   // spoken lines
    int placed = 0;  // spoken lines given a time
    double startSum = 0, startMax = 0, endSum = 0, endMax = 0;
    int over100 = 0, over250 = 0;
    int missing = 0, missingFound = 0, falseMissing = 0;
    double audioSeconds = 0, wallSeconds = 0;
    int failures = 0;

    void add(const Recording& recording, const Outcome& outcome) {
        audioSeconds += recording.seconds;
        wallSeconds += outcome.wallSeconds;
        const bool ok = outcome.error.empty() && outcome.ranges.size() == recording.lines.size();
        if (!ok) ++failures;
        for (size_t i = 0; i < recording.lines.size(); ++i) {
            const TruthLine& truth = recording.lines[i];
            const LineTiming* range = ok ? &outcome.ranges[i] : nullptr;
            const bool dropped = !range || range->missing;
            if (!truth.spoken) {
                ++missing;
                if (dropped) ++missingFound;
                continue;
            }
            ++lines;
            if (dropped) {
                // A spoken line left out of the SRT is as bad as a line in the wrong place.
                if (range) ++falseMissing;
                ++over100;
                ++over250;
                continue;
            }
            ++placed;
            const double startError = std::abs(range->start - truth.start);
            const double endError = std::abs(range->end - truth.end);
            startSum += startError;
            endSum += endError;
            startMax = std::max(startMax, startError);
            endMax = std::max(endMax, endError);
            if (startError > 0.100) ++over100;
            if (startError > 0.250) ++over250;
        }
    }
};

void printRow(const std::string& aligner, const std::string& set, const Tally& t) {
    const auto ms = [](double seconds) { return std::lround(seconds * 1000); };
    const auto share = [&](int count) { return t.lines ? 100.0 * count / t.lines : 0.0; };
    std::printf("%-9s %-9s %5d %8ld %8ld %8ld %8ld %7.1f%% %7.1f%%   %2d/%-2d %3d %8.0fx",
                aligner.c_str(), set.c_str(), t.lines, ms(t.placed ? t.startSum / t.placed : 0),
                ms(t.startMax), ms(t.placed ? t.endSum / t.placed : 0), ms(t.endMax),
                share(t.over100), share(t.over250), t.missingFound, t.missing, t.falseMissing,
                t.wallSeconds > 0 ? t.audioSeconds / t.wallSeconds : 0.0);
    if (t.failures) std::printf("  (%d failed)", t.failures);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: aligner_bench DATA_FOLDER [--verbose] [--seed-offset N]\n";
        return 2;
    }
    const fs::path folder = argv[1];
    bool verbose = false;
    std::uint64_t seedOffset = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--verbose") verbose = true;
        if (option == "--seed-offset" && i + 1 < argc) seedOffset = std::stoull(argv[++i]);
    }
    try {
        fs::create_directories(folder);
        const fs::path stamp = folder / "version";
        const std::string version = std::to_string(kDataVersion) + "/" + std::to_string(seedOffset);
        if (!fs::exists(stamp) || readFile(stamp) != version) {
            for (const auto& entry : fs::directory_iterator(folder))
                fs::remove_all(entry.path());
        }
        std::vector<Recording> recordings;
        for (const RecordingSpec& spec : specs(seedOffset)) {
            if (!fs::exists(folder / (spec.name + ".truth"))) {
                std::cout << "Synthesising " << spec.name << " ..." << std::endl;
                makeRecording(spec, folder);
            }
            recordings.push_back(loadRecording(folder, spec.name));
        }
        writeFileAtomically(stamp, version);

        struct Contender {
            std::string name;
            std::unique_ptr<Aligner> aligner;
            Tally shortSet, longSet, all;
        };
        std::vector<Contender> contenders;
        contenders.push_back({"baseline", server::makeEnergyAligner(), {}, {}, {}});
        contenders.push_back({"speech", server::makeSpeechAligner(), {}, {}, {}});
        for (const Recording& recording : recordings) {
            for (Contender& c : contenders) {
                const Outcome outcome = runAligner(*c.aligner, recording);
                (recording.seconds < 120 ? c.shortSet : c.longSet).add(recording, outcome);
                c.all.add(recording, outcome);
                Tally one;
                one.add(recording, outcome);
                if (verbose) {
                    printRow(c.name, recording.name.substr(0, 9), one);
                    if (!outcome.error.empty()) std::cout << "  error: " << outcome.error << "\n";
                }
                if (verbose && c.name == "speech" &&
                    outcome.ranges.size() == recording.lines.size()) {
                    for (size_t i = 0; i < recording.lines.size(); ++i) {
                        const TruthLine& t = recording.lines[i];
                        const LineTiming& r = outcome.ranges[i];
                        const double e = t.spoken && !r.missing ? r.start - t.start : 0;
                        if (std::abs(e) > 0.1 || t.spoken == r.missing)
                            std::printf("    %3zu %s true %.2f-%.2f got %s%.2f-%.2f err %+.0f ms\n",
                                        i, t.spoken ? "  " : "M ", t.start, t.end,
                                        r.missing ? "M " : "", r.start, r.end, e * 1000);
                    }
                }
            }
        }
        std::printf(
            "\nAlignment against known line boundaries (%zu recordings, synthetic speech)\n",
            recordings.size());
        std::printf("%-9s %-9s %5s %8s %8s %8s %8s %8s %8s %7s %3s %9s\n", "aligner", "set",
                    "lines", "start ms", "max", "end ms", "max", ">100ms", ">250ms", "missing",
                    "fls", "speed");
        for (const auto& [label, pick] : std::vector<std::pair<std::string, Tally Contender::*>>{
                 {"<2 min", &Contender::shortSet},
                 {"10 min", &Contender::longSet},
                 {"all", &Contender::all}}) {
            for (const Contender& c : contenders)
                printRow(c.name, label, c.*pick);
        }
        std::printf(
            "start/end ms: mean |error| of the lines placed; >100ms/>250ms: share of "
            "spoken lines off by more (a\nspoken line left out counts as off); missing: "
            "script lines left out of the audio that were\nreported missing; fls: spoken "
            "lines reported missing; speed: audio seconds per wall second, one thread.\n");
    } catch (const std::exception& error) {
        std::cerr << "aligner_bench: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
