#include "text/chinese_script.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>
#include <vector>

#include "text/unicode.h"

namespace quillora {
namespace {

// Transliterators are not safe to share between threads: each thread makes its own.
std::string converted(const char* direction, const std::string& text) {
    thread_local std::unique_ptr<icu::Transliterator> toSimplified;
    thread_local std::unique_ptr<icu::Transliterator> toTraditional;
    auto& slot = std::string_view(direction) == "Hant-Hans" ? toSimplified : toTraditional;
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        slot.reset(icu::Transliterator::createInstance(direction, UTRANS_FORWARD, status));
        if (U_FAILURE(status)) slot.reset();
    }
    if (!slot) return text;
    icu::UnicodeString value = icu::UnicodeString::fromUTF8(text);
    slot->transliterate(value);
    std::string out;
    value.toUTF8String(out);
    return out;
}

struct Character {
    std::string text;
    std::string simplified;   // its Simplified form, or itself
    std::string traditional;  // its Traditional form, or itself
};

}  // namespace

std::string inOneChineseScript(const std::string& text) {
    std::vector<Character> characters;
    int traditionalOnly = 0;
    int simplifiedOnly = 0;
    for (const char32_t c : codePoints(text)) {
        Character character;
        appendUtf8(character.text, c);
        character.simplified = character.traditional = character.text;
        if (c >= 0x3400 && c <= 0x9FFF) {
            character.simplified = converted("Hant-Hans", character.text);
            character.traditional = converted("Hans-Hant", character.text);
            if (character.simplified != character.text) {
                ++traditionalOnly;
            } else if (character.traditional != character.text) {
                ++simplifiedOnly;
            }
        }
        characters.push_back(std::move(character));
    }
    if (traditionalOnly == simplifiedOnly) return text;
    std::string out;
    for (const Character& character : characters)
        out += traditionalOnly > simplifiedOnly ? character.traditional : character.simplified;
    return out;
}

}  // namespace quillora
