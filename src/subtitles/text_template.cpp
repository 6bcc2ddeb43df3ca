#include "subtitles/text_template.h"

namespace quillora {

TextTemplate::TextTemplate(std::string_view text,
                           std::initializer_list<std::string_view> placeholders)
    : placeholderCount_(placeholders.size()) {
    pieces_.push_back(Piece{std::string(text)});
    std::size_t slot = 0;
    for (std::string_view word : placeholders) {
        if (word.empty()) throw TemplateError("empty template placeholder");
        std::vector<Piece> next;
        for (Piece& piece : pieces_) {
            if (piece.slot != npos) {
                next.push_back(std::move(piece));
                continue;
            }
            std::string_view rest = piece.text;
            for (std::size_t found = rest.find(word); found != std::string_view::npos;
                 found = rest.find(word)) {
                if (found > 0) next.push_back(Piece{std::string(rest.substr(0, found))});
                next.push_back(Piece{{}, slot});
                rest.remove_prefix(found + word.size());
            }
            if (!rest.empty()) next.push_back(Piece{std::string(rest)});
        }
        pieces_ = std::move(next);
        ++slot;
    }
    for (const Piece& piece : pieces_)
        fixedSize_ += piece.text.size();
}

void TextTemplate::appendTo(std::string& out, const std::vector<std::string_view>& values) const {
    if (values.size() != placeholderCount_) {
        throw TemplateError("template filled with the wrong number of values");
    }
    for (const Piece& piece : pieces_) {
        if (piece.slot == npos) {
            out.append(piece.text);
        } else {
            out.append(values[piece.slot]);
        }
    }
}

void TextTemplate::appendTo(std::string& out,
                            const std::function<void(std::string&, std::size_t)>& writeSlot) const {
    for (const Piece& piece : pieces_) {
        if (piece.slot == npos) {
            out.append(piece.text);
        } else {
            writeSlot(out, piece.slot);
        }
    }
}

std::string TextTemplate::fill(const std::vector<std::string_view>& values) const {
    std::string out;
    std::size_t size = fixedSize_;
    for (std::string_view value : values)
        size += value.size();
    out.reserve(size);
    appendTo(out, values);
    return out;
}

}  // namespace quillora
