#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace quillora {

/// A template used against its own rules (an empty placeholder, the wrong number of values).
class TemplateError : public Error {
  public:
    using Error::Error;
};

/// A document template whose placeholder words are replaced literally. The placeholders are
/// looked for in the given order, each only in the template text that earlier ones left, and a
/// value put in is never searched again: a subtitle that happens to contain a placeholder word
/// comes out as written.
class TextTemplate {
  public:
    TextTemplate(std::string_view text, std::initializer_list<std::string_view> placeholders);

    /// Appends the template with values[k] in place of every occurrence of placeholder k.
    void appendTo(std::string& out, const std::vector<std::string_view>& values) const;
    std::string fill(const std::vector<std::string_view>& values) const;

    /// Appends the template, calling `writeSlot(out, k)` where placeholder k stood, so large
    /// values can be produced straight into `out`.
    void appendTo(std::string& out,
                  const std::function<void(std::string&, std::size_t)>& writeSlot) const;

    /// Bytes of template text that every fill copies (without the values).
    std::size_t fixedSize() const { return fixedSize_; }
    std::size_t placeholderCount() const { return placeholderCount_; }

  private:
    struct Piece {
        std::string text;  // literal text, when slot is npos
        std::size_t slot = npos;
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    std::vector<Piece> pieces_;
    std::size_t fixedSize_ = 0;
    std::size_t placeholderCount_ = 0;
};

}  // namespace quillora
