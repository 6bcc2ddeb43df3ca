#include "subtitles/line_counter.h"

#include <algorithm>
#include <cstdint>

#include "platform/uuid.h"
#include "subtitles/text_file.h"
#include "text/unicode.h"

namespace quillora {
namespace {

std::string_view trimSpacesAndTabs(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool hasLineBreak(std::string_view text) {
    for (char32_t c : codePoints(text)) {
        if (isNewlineCharacter(c)) return true;
    }
    return false;
}

// Lines of a script. A Windows line end (CR LF) is one break, so rows keep the numbers the
// user's editor shows; every other newline character breaks on its own.
std::vector<std::string_view> scriptLines(std::string_view text) {
    std::vector<std::string_view> pieces = splitNewlines(text);
    std::vector<std::string_view> lines;
    lines.reserve(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        lines.push_back(pieces[i]);
        // splitNewlines leaves an empty piece between a CR and the LF right after it.
        if (i + 1 < pieces.size() && pieces[i + 1].empty()) {
            const char* end = pieces[i].data() + pieces[i].size();
            if (end + 2 <= text.data() + text.size() && end[0] == '\r' && end[1] == '\n') ++i;
        }
    }
    return lines;
}

}  // namespace

int64_t lineCharacterCount(std::string_view text) {
    int64_t units = 0;
    for (char32_t c : codePoints(text))
        units += c > 0xFFFF ? 2 : 1;
    return units;
}

std::string_view lineStatusMark(const LineStat& line) {
    return line.isOverLimit ? "超标" : "正常";
}

void LineCounterDocument::recompute(LineStat& line) const {
    line.processedText = std::string(trimSpacesAndTabs(line.rawText));
    line.chineseCount = lineCharacterCount(line.processedText);
    line.isOverLimit = maxCharacterLimit_ < line.chineseCount;
}

LineStat LineCounterDocument::makeLine(int64_t number, std::string text) const {
    LineStat line;
    line.id = uuidString();
    line.originalLineNumber = number;
    line.rawText = std::move(text);
    recompute(line);
    return line;
}

LineStat* LineCounterDocument::find(const std::string& id) {
    auto it = std::find_if(lines_.begin(), lines_.end(),
                           [&](const LineStat& line) { return line.id == id; });
    return it == lines_.end() ? nullptr : &*it;
}

void LineCounterDocument::setMaxCharacterLimit(int limit) {
    maxCharacterLimit_ = std::clamp(limit, kMinimumLimit, kMaximumLimit);
    updateAllLines();
}

std::vector<LineStat> LineCounterDocument::buildLines(std::string_view content, int limit) {
    LineCounterDocument counter;
    counter.maxCharacterLimit_ = std::clamp(limit, kMinimumLimit, kMaximumLimit);
    std::vector<LineStat> lines;
    int64_t number = 0;
    for (std::string_view piece : scriptLines(content)) {
        ++number;
        if (piece.empty()) continue;
        lines.push_back(counter.makeLine(number, std::string(piece)));
    }
    return lines;
}

void LineCounterDocument::processDocument(std::string_view content) {
    lines_ = buildLines(content, maxCharacterLimit_);
}

void LineCounterDocument::replaceLines(std::vector<LineStat> lines) {
    lines_ = std::move(lines);
    updateAllLines();
}

bool LineCounterDocument::handleFileResult(const std::filesystem::path& file) {
    errorMessage_.reset();
    try {
        processDocument(readUtf8File(file));
        return true;
    } catch (const TextFileError& error) {
        errorMessage_ = error.description();
        return false;
    }
}

bool LineCounterDocument::editLine(const std::string& id, std::string newText) {
    LineStat* line = find(id);
    if (!line) return false;
    if (hasLineBreak(newText)) {
        splitLine(id, newText);
        return true;
    }
    line->rawText = std::move(newText);
    recompute(*line);
    return true;
}

void LineCounterDocument::commitLine(const std::string& id) {
    LineStat* line = find(id);
    if (line && hasLineBreak(line->rawText)) splitLine(id, std::string(line->rawText));
}

void LineCounterDocument::updateLine(const std::string& id) {
    if (LineStat* line = find(id)) recompute(*line);
}

void LineCounterDocument::updateAllLines() {
    for (LineStat& line : lines_)
        recompute(line);
}

void LineCounterDocument::splitLine(const std::string& id, std::string_view newText) {
    auto it = std::find_if(lines_.begin(), lines_.end(),
                           [&](const LineStat& line) { return line.id == id; });
    if (it == lines_.end()) return;
    const int64_t number = it->originalLineNumber;
    std::vector<LineStat> replacement;
    for (std::string_view piece : scriptLines(newText)) {
        replacement.push_back(makeLine(number, std::string(piece)));
    }
    it = lines_.erase(it);
    lines_.insert(it, std::make_move_iterator(replacement.begin()),
                  std::make_move_iterator(replacement.end()));
    renumberLines();
}

void LineCounterDocument::addNewLineAtEnd() {
    lines_.push_back(makeLine(static_cast<int64_t>(lines_.size()) + 1, std::string()));
}

bool LineCounterDocument::deleteLine(const std::string& id) {
    return std::erase_if(lines_, [&](const LineStat& line) { return line.id == id; }) > 0;
}

void LineCounterDocument::renumberLines() {
    int64_t number = 0;
    for (LineStat& line : lines_)
        line.originalLineNumber = ++number;
}

std::string LineCounterDocument::exportText() const {
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0) text.push_back('\n');
        text.append(lines_[i].rawText);
    }
    return text;
}

bool LineCounterDocument::exportContent(const std::filesystem::path& file) {
    try {
        writeTextFile(file, exportText());
        return true;
    } catch (const TextFileError& error) {
        errorMessage_ = "保存文件时出错: " + error.description();
        return false;
    }
}

std::string LineCounterDocument::errorDisplayText(std::string_view message) {
    return "错误: " + std::string(message);
}

std::string LineCounterDocument::limitText() const {
    return "当前限制: " + std::to_string(maxCharacterLimit_) + " 个汉字";
}

}  // namespace quillora
