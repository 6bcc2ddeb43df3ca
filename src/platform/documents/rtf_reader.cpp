#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/documents/document_readers.h"
#include "platform/files.h"

namespace quillora::documents {
namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

constexpr int kDefaultCodePage = 1252;

// Windows code page of an RTF font charset; nothing where the document's own code page applies
// (ANSI, default and symbol fonts, and charsets without a code page of their own).
std::optional<int> codePageOfCharset(int charset) {
    static const std::map<int, int> table = {{77, 10000}, {128, 932},  {129, 949},  {134, 936},
                                             {136, 950},  {161, 1253}, {162, 1254}, {163, 1258},
                                             {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251},
                                             {222, 874},  {238, 1250}, {254, 437},  {255, 850}};
    const auto found = table.find(charset);
    if (found == table.end()) return std::nullopt;
    return found->second;
}

// Decodes code-paged bytes to UTF-16, one converter per code page for the whole document.
class CodePageDecoder {
  public:
    void append(int codePage, std::string_view bytes, std::u16string& out) {
        if (std::all_of(bytes.begin(), bytes.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            out.append(bytes.begin(), bytes.end());
            return;
        }
        UConverter* converter = converterFor(codePage);
        if (!converter) {
            // No table for this code page: keep the text readable as Windows-1252.
            converter = converterFor(kDefaultCodePage);
        }
        if (!converter) {
            out.append(bytes.size(), u'\uFFFD');
            return;
        }
        ucnv_reset(converter);
        std::u16string decoded(bytes.size() * 2 + 1, u'\0');
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length =
            ucnv_toUChars(converter, decoded.data(), static_cast<int32_t>(decoded.size()),
                          bytes.data(), static_cast<int32_t>(bytes.size()), &status);
        if (U_FAILURE(status)) {
            out.append(bytes.size(), u'\uFFFD');
            return;
        }
        out.append(decoded.data(), static_cast<size_t>(length));
    }

  private:
    UConverter* converterFor(int codePage) {
        auto found = converters_.find(codePage);
        if (found != converters_.end()) return found->second.get();
        ConverterPtr converter;
        for (const std::string& name : converterNames(codePage)) {
            UErrorCode status = U_ZERO_ERROR;
            converter.reset(ucnv_open(name.c_str(), &status));
            if (U_SUCCESS(status) && converter) break;
            converter.reset();
        }
        return converters_.emplace(codePage, std::move(converter)).first->second.get();
    }

    static std::vector<std::string> converterNames(int codePage) {
        switch (codePage) {
            case 10000:
                return {"macintosh"};
            case 54936:
                return {"GB18030"};
            case 65001:
                return {"UTF-8"};
            default: {
                const std::string number = std::to_string(codePage);
                return {"windows-" + number, "cp" + number, "ibm-" + number};
            }
        }
    }

    std::map<int, ConverterPtr> converters_;
};

enum class Destination { text, skipped, fontTable };

struct GroupState {
    Destination destination = Destination::text;
    int font = -1;  // -1: the document's default font
    int unicodeSkip = 1;
    bool inUnicodeAlternatives = false;  // inside \upr, whose \ud part is the text
};

struct ControlWord {
    std::string name;
    std::optional<int> parameter;
};

// Destinations whose content is not part of the document's text.
bool isSkippedDestination(std::string_view word) {
    static const char* const words[] = {"author",    "annotation",   "atnauthor",
                                        "atnid",     "bkmkend",      "bkmkstart",
                                        "colortbl",  "comment",      "company",
                                        "creatim",   "datastore",    "doccomm",
                                        "filetbl",   "fldinst",      "footer",
                                        "footerf",   "footerl",      "footerr",
                                        "footnote",  "header",       "headerf",
                                        "headerl",   "headerr",      "info",
                                        "keywords",  "latentstyles", "listoverridetable",
                                        "listtable", "NeXTGraphic",  "nonshppict",
                                        "objdata",   "operator",     "pict",
                                        "pntxta",    "pntxtb",       "printim",
                                        "private",   "revtbl",       "revtim",
                                        "rxe",       "stylesheet",   "subject",
                                        "tc",        "template",     "themedata",
                                        "title",     "txe",          "xe",
                                        "xmlnstbl"};
    return std::any_of(std::begin(words), std::end(words),
                       [&](const char* candidate) { return word == candidate; });
}

// Control words that stand for one character.
std::optional<char16_t> characterOfWord(std::string_view word) {
    static const std::map<std::string_view, char16_t> table = {
        {"tab", u'\t'},           {"cell", u'\t'},        {"nestcell", u'\t'},
        {"par", u'\n'},           {"line", u'\n'},        {"sect", u'\n'},
        {"page", u'\n'},          {"row", u'\n'},         {"nestrow", u'\n'},
        {"emdash", u'\u2014'},    {"endash", u'\u2013'},  {"emspace", u'\u2003'},
        {"enspace", u'\u2002'},   {"qmspace", u'\u2005'}, {"bullet", u'\u2022'},
        {"lquote", u'\u2018'},    {"rquote", u'\u2019'},  {"ldblquote", u'\u201C'},
        {"rdblquote", u'\u201D'}, {"zwj", u'\u200D'},     {"zwnj", u'\u200C'},
        {"ltrmark", u'\u200E'},   {"rtlmark", u'\u200F'}};
    const auto found = table.find(word);
    if (found == table.end()) return std::nullopt;
    return found->second;
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class RtfReader {
  public:
    explicit RtfReader(std::string_view input) : input_(input) {}

    std::string read() {
        if (!startsAsRtf()) throw DocumentError("不是 RTF 文档");
        while (pos_ < input_.size()) {
            const char c = input_[pos_++];
            switch (c) {
                case '{':
                    flushBytes();
                    groups_.push_back(groups_.empty() ? GroupState{} : groups_.back());
                    pendingIgnorable_ = false;
                    fallbackToSkip_ = 0;
                    break;
                case '}':
                    flushBytes();
                    if (!groups_.empty()) groups_.pop_back();
                    pendingIgnorable_ = false;
                    fallbackToSkip_ = 0;
                    break;
                case '\\':
                    readControl();
                    break;
                case '\r':
                case '\n':
                    break;  // line ends in RTF source are not text
                case '\t':
                    addCharacter(u'\t');
                    break;
                default:
                    addByte(static_cast<unsigned char>(c));
                    break;
            }
        }
        flushBytes();
        return toUtf8(text_);
    }

  private:
    bool startsAsRtf() const {
        size_t start = 0;
        while (start < input_.size() && (input_[start] == ' ' || input_[start] == '\r' ||
                                         input_[start] == '\n' || input_[start] == '\t')) {
            ++start;
        }
        return input_.substr(start, 5) == "{\\rtf";
    }

    GroupState& state() {
        // Text outside every group (after the document's last brace) still has a state.
        if (groups_.empty()) groups_.emplace_back();
        return groups_.back();
    }

    bool collectingText() { return state().destination == Destination::text; }

    // Fallback characters after \uN are dropped; true when this one was.
    bool consumeFallback() {
        if (fallbackToSkip_ == 0) return false;
        --fallbackToSkip_;
        return true;
    }

    void addByte(unsigned char byte) {
        if (consumeFallback() || !collectingText() || byte == 0) return;
        const int codePage = currentCodePage();
        if (!bytes_.empty() && bytesCodePage_ != codePage) flushBytes();
        bytesCodePage_ = codePage;
        bytes_.push_back(static_cast<char>(byte));
    }

    void addCharacter(char16_t c) {
        if (consumeFallback() || !collectingText()) return;
        flushBytes();
        text_.push_back(c);
    }

    void flushBytes() {
        if (bytes_.empty()) return;
        decoder_.append(bytesCodePage_, bytes_, text_);
        bytes_.clear();
    }

    int currentCodePage() {
        const int font = state().font >= 0 ? state().font : defaultFont_;
        const auto found = fontCodePages_.find(font);
        return found != fontCodePages_.end() ? found->second : documentCodePage_;
    }

    void readControl() {
        if (pos_ >= input_.size()) return;
        const char c = input_[pos_];
        if (!isAsciiLetter(c)) {
            ++pos_;
            readControlSymbol(c);
            return;
        }
        ControlWord word;
        while (pos_ < input_.size() && isAsciiLetter(input_[pos_]) && word.name.size() < 32) {
            word.name.push_back(input_[pos_++]);
        }
        const size_t numberStart = pos_;
        bool negative = false;
        if (pos_ < input_.size() && input_[pos_] == '-' && pos_ + 1 < input_.size() &&
            isAsciiDigit(input_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        long long value = 0;
        bool hasDigits = false;
        while (pos_ < input_.size() && isAsciiDigit(input_[pos_])) {
            if (value < INT_MAX) value = value * 10 + (input_[pos_] - '0');
            hasDigits = true;
            ++pos_;
        }
        if (hasDigits) {
            value = std::min<long long>(value, INT_MAX);
            word.parameter = static_cast<int>(negative ? -value : value);
        } else {
            pos_ = numberStart;
        }
        if (pos_ < input_.size() && input_[pos_] == ' ') ++pos_;
        applyControlWord(word);
    }

    void readControlSymbol(char c) {
        switch (c) {
            case '\'': {
                const int high = pos_ < input_.size() ? hexValue(input_[pos_]) : -1;
                const int low = pos_ + 1 < input_.size() ? hexValue(input_[pos_ + 1]) : -1;
                if (high < 0 || low < 0) return;
                pos_ += 2;
                addByte(static_cast<unsigned char>(high * 16 + low));
                return;
            }
            case '*':
                pendingIgnorable_ = true;
                return;
            case '~':
                addCharacter(u'\u00A0');
                return;
            case '_':
                addCharacter(u'\u2011');
                return;
            case '\r':
            case '\n':
                addCharacter(u'\n');
                return;
            case '\\':
            case '{':
            case '}':
                addByte(static_cast<unsigned char>(c));
                return;
            default:
                // \- (optional hyphen), \: (index subentry), \| and unknown symbols: no text.
                consumeFallback();
                return;
        }
    }

    void applyControlWord(const ControlWord& word) {
        const bool ignorable = pendingIgnorable_;
        pendingIgnorable_ = false;
        GroupState& current = state();
        const int parameter = word.parameter.value_or(0);

        if (word.name == "bin") {
            // Raw bytes follow; they are never text.
            flushBytes();
            const size_t count = static_cast<size_t>(std::max(parameter, 0));
            pos_ += std::min(count, input_.size() - pos_);
            return;
        }
        if (word.name == "upr") {
            current.destination = Destination::skipped;
            current.inUnicodeAlternatives = true;
            return;
        }
        if (word.name == "ud" && current.inUnicodeAlternatives) {
            // The Unicode alternative of an \upr group is the text to keep.
            current.destination = Destination::text;
            current.inUnicodeAlternatives = false;
            return;
        }
        if (ignorable || isSkippedDestination(word.name)) {
            flushBytes();
            current.destination = Destination::skipped;
            return;
        }
        if (word.name == "fonttbl") {
            flushBytes();
            current.destination = Destination::fontTable;
            return;
        }
        if (current.destination == Destination::fontTable) {
            readFontTableWord(word);
            return;
        }
        if (word.name == "u" && word.parameter) {
            if (consumeFallback() || !collectingText()) return;
            flushBytes();
            const int unit = parameter < 0 ? parameter + 65536 : parameter;
            if (unit > 0 && unit <= 0xFFFF) text_.push_back(static_cast<char16_t>(unit));
            fallbackToSkip_ = current.unicodeSkip;
            return;
        }
        if (const auto character = characterOfWord(word.name)) {
            addCharacter(*character);
            return;
        }
        if (consumeFallback()) return;
        if (word.name == "uc") {
            current.unicodeSkip = std::clamp(parameter, 0, 16);
        } else if (word.name == "ansicpg" && word.parameter) {
            flushBytes();
            documentCodePage_ = parameter > 0 ? parameter : kDefaultCodePage;
        } else if (word.name == "ansi") {
            documentCodePage_ = 1252;
        } else if (word.name == "mac") {
            documentCodePage_ = 10000;
        } else if (word.name == "pc") {
            documentCodePage_ = 437;
        } else if (word.name == "pca") {
            documentCodePage_ = 850;
        } else if (word.name == "deff" && word.parameter) {
            defaultFont_ = parameter;
        } else if (word.name == "f" && word.parameter) {
            current.font = parameter;
        } else if (word.name == "plain") {
            current.font = -1;
        }
    }

    void readFontTableWord(const ControlWord& word) {
        const int parameter = word.parameter.value_or(0);
        if (word.name == "f" && word.parameter) {
            fontBeingDefined_ = parameter;
        } else if (word.name == "fcharset" && word.parameter) {
            if (const auto codePage = codePageOfCharset(parameter)) {
                fontCodePages_[fontBeingDefined_] = *codePage;
            } else {
                fontCodePages_.erase(fontBeingDefined_);
            }
        } else if (word.name == "cpg" && word.parameter && parameter > 0) {
            fontCodePages_[fontBeingDefined_] = parameter;
        }
    }

    static std::string toUtf8(const std::u16string& text) {
        if (text.empty()) return {};
        std::string out(text.size() * 3, '\0');
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                           static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
        if (U_FAILURE(status)) throw DocumentError("RTF 文本无法转换为 UTF-8");
        out.resize(static_cast<size_t>(length));
        return out;
    }

    std::string_view input_;
    size_t pos_ = 0;
    std::vector<GroupState> groups_;
    bool pendingIgnorable_ = false;
    int fallbackToSkip_ = 0;
    int documentCodePage_ = kDefaultCodePage;
    int defaultFont_ = 0;
    int fontBeingDefined_ = 0;
    std::map<int, int> fontCodePages_;
    std::string bytes_;
    int bytesCodePage_ = kDefaultCodePage;
    CodePageDecoder decoder_;
    std::u16string text_;
};

}  // namespace

std::string rtfToPlainText(std::string_view rtf) {
    if (rtf.size() > static_cast<size_t>(INT32_MAX) / 3) throw DocumentError("RTF 文档过大");
    return RtfReader(rtf).read();
}

std::string readRtfDocument(const std::filesystem::path& path, bool isRtfd) {
    // An RTFD is a folder whose TXT.rtf holds the text (pictures sit beside it).
    const std::filesystem::path file = isRtfd ? path / "TXT.rtf" : path;
    return rtfToPlainText(readFile(file));
}

}  // namespace quillora::documents
