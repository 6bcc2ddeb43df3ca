#include "text/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cstdint>

#include "text/printable.h"

namespace quillora {
namespace {

// Reads one code point at `i`, advancing it; an ill-formed sequence (overlong, surrogate,
// beyond U+10FFFF, truncated) gives -1 and advances past its maximal valid prefix, at least 1.
int32_t nextCodePoint(std::string_view text, std::size_t& i) {
    auto byteAt = [&](std::size_t at) { return static_cast<uint8_t>(text[at]); };
    uint8_t lead = byteAt(i++);
    if (lead < 0x80) return lead;
    int need = 0;
    int32_t c = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (int k = 0; k < need; ++k) {
        if (i >= text.size()) return -1;
        uint8_t next = byteAt(i);
        if (next < low || next > high) return -1;
        low = 0x80;
        high = 0xBF;
        c = (c << 6) | (next & 0x3F);
        ++i;
    }
    return c;
}

// Steps back over the code point ending at `i`; ill-formed bytes step back one at a time and
// give -1.
int32_t previousCodePoint(std::string_view text, std::size_t& i) {
    std::size_t end = i;
    std::size_t lead = end - 1;
    while (lead > 0 && end - lead < 4 && (static_cast<uint8_t>(text[lead]) & 0xC0) == 0x80) {
        --lead;
    }
    std::size_t cursor = lead;
    int32_t c = nextCodePoint(text, cursor);
    if (c >= 0 && cursor == end) {
        i = lead;
        return c;
    }
    i = end - 1;
    return static_cast<uint8_t>(text[i]) < 0x80 ? static_cast<uint8_t>(text[i]) : -1;
}

int8_t category(char32_t c) {
    return u_charType(static_cast<UChar32>(c));
}

uint32_t categoryMask(char32_t c) {
    return U_GET_GC_MASK(static_cast<UChar32>(c));
}

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};
using UTextHandle = std::unique_ptr<UText, UTextCloser>;

// Creating a character break iterator loads rule data; one per thread is reused for every call.
icu::BreakIterator& characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !created) {
            throw LibraryError("ICU character break iterator unavailable");
        }
        return created;
    }();
    return *iterator;
}

// Code points that never join a neighbour into one cluster: not Extend, SpacingMark, Prepend,
// ZWJ, a regional indicator, Hangul, Extended_Pictographic or a control. Between two of them
// there is always a cluster boundary, so common text needs no break iterator.
bool isSimpleCodePoint(int32_t c) {
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xC0 && c <= 0x24F) || (c >= 0x2010 && c <= 0x2027) ||
           (c >= 0x3001 && c <= 0x3029) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xFF01 && c <= 0xFF5E);
}

// Points the shared iterator at `text` for the life of the object and detaches it afterwards,
// so the iterator never keeps a pointer into a caller's string.
class GraphemeBreaks {
  public:
    explicit GraphemeBreaks(std::string_view text) : breaks_(characterBreaks()) {
        UErrorCode status = U_ZERO_ERROR;
        utext_.reset(
            utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
        if (U_FAILURE(status)) throw LibraryError("ICU could not open text");
        breaks_.setText(utext_.get(), status);
        if (U_FAILURE(status)) throw LibraryError("ICU could not iterate text");
    }
    ~GraphemeBreaks() { breaks_.setText(icu::UnicodeString()); }
    GraphemeBreaks(const GraphemeBreaks&) = delete;
    GraphemeBreaks& operator=(const GraphemeBreaks&) = delete;

    icu::BreakIterator* operator->() { return &breaks_; }

  private:
    icu::BreakIterator& breaks_;
    UTextHandle utext_;
};

// True when the code point at `at` and the one after it (if any) are both simple: `at` then
// starts a one-code-point cluster whatever comes before it.
bool startsSimpleCluster(std::string_view text, std::size_t at) {
    std::size_t next = at;
    int32_t c = nextCodePoint(text, next);
    if (c < 0 || !isSimpleCodePoint(c)) return false;
    if (next == text.size()) return true;
    int32_t following = nextCodePoint(text, next);
    return following >= 0 && isSimpleCodePoint(following);
}

// Calls visit(cluster) for each grapheme cluster until it returns false. Runs of simple code
// points are split directly; the break iterator only sees the stretches between them. Starting it
// after a simple code point is safe: no rule looks back across one.
template <typename Visit>
void forEachGrapheme(std::string_view text, Visit visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (startsSimpleCluster(text, pos)) {
            std::size_t next = pos;
            nextCodePoint(text, next);
            if (!visit(text.substr(pos, next - pos))) return;
            pos = next;
            continue;
        }
        std::string_view rest = text.substr(pos);
        GraphemeBreaks breaks(rest);
        auto start = static_cast<std::size_t>(breaks->first());
        std::size_t resume = text.size();
        for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
            auto stop = static_cast<std::size_t>(end);
            if (!visit(rest.substr(start, stop - start))) return;
            start = stop;
            if (stop < rest.size() && startsSimpleCluster(rest, stop)) {
                resume = pos + stop;
                break;
            }
        }
        pos = resume;
    }
}

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace

bool isNewlineCharacter(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isHorizontalWhitespace(char32_t c) {
    return c == '\t' || category(c) == U_SPACE_SEPARATOR;
}

bool isRegexWhitespace(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

bool isLetter(char32_t c) {
    return (categoryMask(c) & U_GC_L_MASK) != 0;
}
bool isDecimalDigit(char32_t c) {
    return category(c) == U_DECIMAL_DIGIT_NUMBER;
}
bool isNumber(char32_t c) {
    return (categoryMask(c) & U_GC_N_MASK) != 0;
}
bool isPunctuation(char32_t c) {
    return (categoryMask(c) & U_GC_P_MASK) != 0;
}
bool isSymbol(char32_t c) {
    return (categoryMask(c) & U_GC_S_MASK) != 0;
}
bool isSeparator(char32_t c) {
    return (categoryMask(c) & U_GC_Z_MASK) != 0;
}
bool isControl(char32_t c) {
    return category(c) == U_CONTROL_CHAR;
}

std::u32string codePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        int32_t c = nextCodePoint(text, i);
        out.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        if (nextCodePoint(bytes, i) < 0) return false;
    }
    return true;
}

std::string printableText(std::string_view text, std::size_t limit) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++shown) {
        if (shown == limit) {
            out += "…";
            break;
        }
        const std::size_t start = i;
        const int32_t c = nextCodePoint(text, i);
        if (c < 0) {
            for (std::size_t b = start; b < i; ++b) {
                const auto byte = static_cast<unsigned char>(text[b]);
                out += "\\x";
                out += hex[byte >> 4];
                out += hex[byte & 0xF];
            }
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else if ((c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
                   (c >= 0x2066 && c <= 0x2069)) {
            // C1 controls act as escape sequences on some terminals; direction overrides make
            // a line read other than it is.
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(c >> shift) & 0xF];
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out.append(text.substr(start, i - start));
        }
    }
    return out;
}

std::vector<std::string_view> splitNewlines(std::string_view text) {
    // Byte patterns suffice: U+0085 is C2 85 and U+2028/U+2029 are E2 80 A8/A9, and neither lead
    // byte can occur inside another sequence, well-formed or not.
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    const std::size_t size = text.size();
    auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char byte = byteAt(i);
        std::size_t length = 0;
        if (byte >= 0x0A && byte <= 0x0D) {
            length = 1;
        } else if (byte == 0xC2 && i + 1 < size && byteAt(i + 1) == 0x85) {
            length = 2;
        } else if (byte == 0xE2 && i + 2 < size && byteAt(i + 1) == 0x80 &&
                   (byteAt(i + 2) == 0xA8 || byteAt(i + 2) == 0xA9)) {
            length = 3;
        }
        if (length == 0) continue;
        pieces.push_back(text.substr(start, i - start));
        start = i + length;
        i += length - 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::vector<std::string_view> splitOn(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    if (separator.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::size_t at = text.find(from);
    if (at == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (; at != std::string_view::npos; at = text.find(from, start)) {
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

std::string_view trimHorizontalWhitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        int32_t c = nextCodePoint(text, next);
        if (c < 0 || !isHorizontalWhitespace(static_cast<char32_t>(c))) break;
        begin = next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t previous = end;
        int32_t c = previousCodePoint(text, previous);
        if (c < 0 || !isHorizontalWhitespace(static_cast<char32_t>(c))) break;
        end = previous;
    }
    return text.substr(begin, end - begin);
}

std::string_view trimTrailingRegexWhitespace(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t previous = end;
        int32_t c = previousCodePoint(text, previous);
        if (c < 0 || !isRegexWhitespace(static_cast<char32_t>(c))) break;
        end = previous;
    }
    return text.substr(0, end);
}

std::string_view trimRegexWhitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        int32_t c = nextCodePoint(text, next);
        if (c < 0 || !isRegexWhitespace(static_cast<char32_t>(c))) break;
        begin = next;
    }
    return trimTrailingRegexWhitespace(text.substr(begin));
}

bool isBlankLine(std::string_view line) {
    return trimHorizontalWhitespace(line).empty();
}

std::size_t graphemeCount(std::string_view text) {
    std::size_t count = 0;
    forEachGrapheme(text, [&](std::string_view) {
        ++count;
        return true;
    });
    return count;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    forEachGrapheme(text, [&](std::string_view cluster) {
        std::size_t at = 0;
        const int32_t c = nextCodePoint(cluster, at);
        if (c < 0) {
            width += 1;
        } else if (u_iscntrl(c)) {
            // no columns
        } else {
            const auto eastAsian = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
            width += eastAsian == U_EA_WIDE || eastAsian == U_EA_FULLWIDTH ? 2 : 1;
        }
        return true;
    });
    return width;
}

std::vector<std::string_view> graphemes(std::string_view text) {
    std::vector<std::string_view> clusters;
    forEachGrapheme(text, [&](std::string_view cluster) {
        clusters.push_back(cluster);
        return true;
    });
    return clusters;
}

std::size_t graphemeCountUpTo(std::string_view text, std::size_t limit) {
    std::size_t count = 0;
    if (limit == 0) return 0;
    // limit + 1 simple code points (or a text made only of them) settle it.
    std::size_t simple = 0;
    for (std::size_t i = 0; i < text.size() && simple <= limit;) {
        int32_t c = nextCodePoint(text, i);
        if (c < 0 || !isSimpleCodePoint(c)) {
            simple = SIZE_MAX;
            break;
        }
        ++simple;
    }
    if (simple != SIZE_MAX) return std::min(simple, limit);
    forEachGrapheme(text, [&](std::string_view) { return ++count < limit; });
    return count;
}

std::string_view firstGrapheme(std::string_view text) {
    std::size_t second = 0;
    if (!text.empty() && isSimpleCodePoint(nextCodePoint(text, second))) {
        std::size_t third = second;
        if (second == text.size() || isSimpleCodePoint(nextCodePoint(text, third))) {
            return text.substr(0, second);
        }
    }
    std::string_view first;
    forEachGrapheme(text, [&](std::string_view cluster) {
        first = cluster;
        return false;
    });
    return first;
}

std::string_view lastGrapheme(std::string_view text) {
    if (text.empty()) return text;
    std::size_t lastStart = text.size();
    if (isSimpleCodePoint(previousCodePoint(text, lastStart))) {
        std::size_t previousStart = lastStart;
        if (lastStart == 0 || isSimpleCodePoint(previousCodePoint(text, previousStart))) {
            return text.substr(lastStart);
        }
    }
    GraphemeBreaks breaks(text);
    int32_t end = breaks->last();
    int32_t start = breaks->previous();
    if (start == icu::BreakIterator::DONE) start = 0;
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string toLower(std::string_view text) {
    return toUtf8(toUnicode(text).toLower(icu::Locale::getRoot()));
}

std::string lowerExtension(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return toLower(extension);
}

struct UnicodeRegex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;

    std::unique_ptr<icu::RegexMatcher> matcher(const icu::UnicodeString& input) const {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> m(pattern->matcher(input, status));
        if (U_FAILURE(status)) throw LibraryError("ICU regex matcher unavailable");
        return m;
    }
};

UnicodeRegex::UnicodeRegex(std::string_view pattern, bool caseInsensitive)
    : impl_(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    impl_->pattern.reset(icu::RegexPattern::compile(
        toUnicode(pattern), caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
    if (U_FAILURE(status)) {
        throw RegexError("invalid regular expression: " + std::string(pattern));
    }
}

UnicodeRegex::~UnicodeRegex() = default;
UnicodeRegex::UnicodeRegex(UnicodeRegex&&) noexcept = default;
UnicodeRegex& UnicodeRegex::operator=(UnicodeRegex&&) noexcept = default;

bool UnicodeRegex::search(std::string_view text) const {
    icu::UnicodeString input = toUnicode(text);
    UErrorCode status = U_ZERO_ERROR;
    bool found = impl_->matcher(input)->find(status);
    return U_SUCCESS(status) && found;
}

bool UnicodeRegex::fullMatch(std::string_view text) const {
    icu::UnicodeString input = toUnicode(text);
    UErrorCode status = U_ZERO_ERROR;
    bool matched = impl_->matcher(input)->matches(status);
    return U_SUCCESS(status) && matched;
}

std::vector<std::string> UnicodeRegex::findAll(std::string_view text) const {
    icu::UnicodeString input = toUnicode(text);
    auto m = impl_->matcher(input);
    std::vector<std::string> found;
    UErrorCode status = U_ZERO_ERROR;
    while (m->find(status) && U_SUCCESS(status)) {
        found.push_back(toUtf8(m->group(status)));
    }
    return found;
}

std::string UnicodeRegex::replaceAll(std::string_view text, std::string_view replacement) const {
    icu::UnicodeString input = toUnicode(text);
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = impl_->matcher(input)->replaceAll(toUnicode(replacement), status);
    if (U_FAILURE(status)) throw RegexError("invalid regular expression replacement");
    return toUtf8(result);
}

}  // namespace quillora
