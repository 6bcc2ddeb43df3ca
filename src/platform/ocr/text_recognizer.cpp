#include "platform/ocr/text_recognizer.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

namespace quillora::ocr {
namespace {

// How much less sure the English-only reading of a Latin line may be and still be taken.
constexpr int kEnglishSlack = 10;

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

ApiPtr makeEngine(const char* languages) {
    ApiPtr api(new tesseract::TessBaseAPI());
    if (api->Init(nullptr, languages, tesseract::OEM_LSTM_ONLY) != 0) {
        throw OcrError(std::string("无法加载文字识别语言数据: ") + languages);
    }
    api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    api->SetVariable("user_defined_dpi", "300");
    api->SetVariable("debug_file", "/dev/null");
    return api;
}

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

bool hasIdeograph(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        for (size_t i = 0; i < line.size();) {
            const char32_t c = nextCodePoint(line, i);
            if (c >= 0x4E00 && c <= 0x9FFF) return true;
        }
    }
    return false;
}

// The Chinese models put spaces between ideographs now and then; Chinese has none.
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
        if (!(previousWide && wide)) out += pendingSpaces;
        pendingSpaces.clear();
        out.append(line, begin, i - begin);
        previousWide = wide;
    }
    return out;
}

std::string trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

struct Symbol {
    std::string text;
    float confidence = 0;
};

struct Reading {
    RecognizedText result;
    std::vector<Symbol> symbols;
};

Reading read(tesseract::TessBaseAPI& api, const GrayImage& image) {
    Reading reading;
    api.SetImage(image.pixels.data(), image.width, image.height, 1, image.width);
    if (api.Recognize(nullptr) != 0) {
        api.Clear();
        return reading;
    }
    std::unique_ptr<tesseract::ResultIterator> lines(api.GetIterator());
    if (lines) {
        do {
            std::unique_ptr<char, TextFreer> text(lines->GetUTF8Text(tesseract::RIL_TEXTLINE));
            if (!text) continue;
            std::string line = withoutSpacesBetweenWideCharacters(trimmed(text.get()));
            if (!line.empty()) reading.result.lines.push_back(std::move(line));
        } while (lines->Next(tesseract::RIL_TEXTLINE));
    }
    std::unique_ptr<tesseract::ResultIterator> symbols(api.GetIterator());
    if (symbols) {
        do {
            std::unique_ptr<char, TextFreer> text(symbols->GetUTF8Text(tesseract::RIL_SYMBOL));
            if (!text) continue;
            reading.symbols.push_back({text.get(), symbols->Confidence(tesseract::RIL_SYMBOL)});
        } while (symbols->Next(tesseract::RIL_SYMBOL));
    }
    reading.result.confidence = api.MeanTextConf();
    api.Clear();
    return reading;
}

// How much more sure the Traditional reading is than the Simplified one, judged only where
// the two read the same character in its two scripts: the characters both scripts share, and
// plain misreadings, say nothing about the script.
double traditionalLead(const Reading& simplified, const Reading& traditional,
                       icu::Transliterator* toSimplified) {
    const auto& a = simplified.symbols;
    const auto& b = traditional.symbols;
    double lead = 0;
    int pairs = 0;
    if (a.size() == b.size() && toSimplified) {
        for (size_t k = 0; k < a.size(); ++k) {
            if (a[k].text == b[k].text) continue;
            icu::UnicodeString converted = icu::UnicodeString::fromUTF8(b[k].text);
            toSimplified->transliterate(converted);
            std::string back;
            converted.toUTF8String(back);
            if (back != a[k].text) continue;
            lead += b[k].confidence - a[k].confidence;
            ++pairs;
        }
    }
    if (pairs == 0) return (traditional.result.confidence - simplified.result.confidence) / 10.0;
    return lead / pairs;
}

}  // namespace

struct TextRecognizer::Impl {
    ApiPtr simplified;
    std::unique_ptr<icu::Transliterator> toSimplified;
    ApiPtr traditional;  // the others are loaded when first needed
    ApiPtr english;
    ApiPtr simplifiedAlone;
    ApiPtr traditionalAlone;
};

TextRecognizer::TextRecognizer() : impl_(std::make_unique<Impl>()) {
    impl_->simplified = makeEngine("chi_sim+eng");
    UErrorCode status = U_ZERO_ERROR;
    impl_->toSimplified.reset(
        icu::Transliterator::createInstance("Hant-Hans", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) impl_->toSimplified.reset();
}

TextRecognizer::~TextRecognizer() = default;

namespace {

// How sure a line without Chinese must be before the Chinese-only model is not asked.
constexpr int kSureLatin = 75;

// Reads each line image on its own; the lines of one cue come back in order, with the symbols
// of all of them (for the script comparison) and their mean confidence. The Chinese models
// carry English for Latin words, which now and then turns a whole Chinese line into Latin
// letters: an unsure line without Chinese is read again by `chineseOnly` (when given), which
// wins when it finds Chinese more surely.
Reading readLines(tesseract::TessBaseAPI& api, const std::vector<GrayImage>& images,
                  const std::function<tesseract::TessBaseAPI*()>& chineseOnly = {}) {
    Reading all;
    int confidence = 0;
    int count = 0;
    for (const auto& image : images) {
        if (image.empty()) continue;
        Reading one = read(api, image);
        if (chineseOnly && one.result.confidence < kSureLatin && !hasIdeograph(one.result.lines)) {
            Reading again = read(*chineseOnly(), image);
            if (hasIdeograph(again.result.lines) &&
                again.result.confidence > one.result.confidence) {
                one = std::move(again);
            }
        }
        if (one.result.lines.empty()) continue;
        all.result.lines.push_back(joinLines(one.result.lines));
        all.symbols.insert(all.symbols.end(), one.symbols.begin(), one.symbols.end());
        confidence += one.result.confidence;
        ++count;
    }
    all.result.confidence = count > 0 ? confidence / count : 0;
    return all;
}

}  // namespace

RecognizedText TextRecognizer::recognize(const std::vector<GrayImage>& lineImages,
                                         ScriptChoice script) {
    auto& d = *impl_;
    auto alone = [](ApiPtr& engine, const char* languages) {
        return [&engine, languages] {
            if (!engine) engine = makeEngine(languages);
            return engine.get();
        };
    };
    if (script == ScriptChoice::traditional) {
        if (!d.traditional) d.traditional = makeEngine("chi_tra+eng");
        Reading only = readLines(*d.traditional, lineImages, alone(d.traditionalAlone, "chi_tra"));
        if (hasIdeograph(only.result.lines)) {
            only.result.traditional = true;
            only.result.traditionalLines = only.result.lines;
            return only.result;
        }
        // No Chinese after all: read as the other lines are.
    }
    Reading first = readLines(*d.simplified, lineImages, alone(d.simplifiedAlone, "chi_sim"));
    if (first.result.lines.empty()) return first.result;
    if (!hasIdeograph(first.result.lines)) {
        // The Chinese model runs Latin words together; English alone keeps the spaces.
        if (!d.english) d.english = makeEngine("eng");
        Reading english = readLines(*d.english, lineImages);
        if (!english.result.lines.empty() &&
            english.result.confidence + kEnglishSlack >= first.result.confidence) {
            return english.result;
        }
        return first.result;
    }
    RecognizedText result = first.result;
    result.simplifiedLines = first.result.lines;
    if (script != ScriptChoice::compare) return result;
    if (!d.traditional) d.traditional = makeEngine("chi_tra+eng");
    Reading second = readLines(*d.traditional, lineImages, alone(d.traditionalAlone, "chi_tra"));
    if (!hasIdeograph(second.result.lines)) return result;
    // Each model reads the other script's glyphs as its own script's characters, and fairly
    // confidently; Simplified stays unless Traditional is surer where they differ. All lines
    // of a cue take the same script.
    const double lead = traditionalLead(first, second, d.toSimplified.get());
    result.traditionalLines = second.result.lines;
    result.traditionalLead = lead;
    result.traditionalConfidence = second.result.confidence;
    if (lead > kTraditionalLead) {
        result.lines = second.result.lines;
        result.confidence = second.result.confidence;
        result.traditional = true;
    }
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

void restartWithSingleThreadedRecognition() {
    if (std::getenv("OMP_THREAD_LIMIT")) return;
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> parts;
    for (size_t at = 0; at < all.size();) {
        const size_t end = all.find('\0', at);
        parts.push_back(all.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (parts.empty()) return;
    std::vector<char*> argv;
    for (auto& part : parts)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv.data());
    // execv failed: carry on in this process, only slower.
}

}  // namespace quillora::ocr
