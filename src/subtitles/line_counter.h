#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillora {

/// One non-empty line of a script in the line counter; records are equal when their ids are.
struct LineStat {
    std::string id;  ///< a UUID, new for every record
    int64_t originalLineNumber = 0;
    std::string rawText;
    std::string processedText;  ///< rawText without spaces and tabs at both ends
    int64_t chineseCount = 0;   ///< UTF-16 code units of processedText
    bool isOverLimit = false;

    bool operator==(const LineStat& other) const { return id == other.id; }
};

/// Length of a line as the counter shows it: UTF-16 code units, so every character counts 1
/// and characters outside the Basic Multilingual Plane (most emoji) count 2.
int64_t lineCharacterCount(std::string_view text);

/// The status mark of a row: "超标" over the limit, else "正常".
std::string_view lineStatusMark(const LineStat& line);

/// The line counter's document: the rows of a script, their counts against a character limit,
/// and the edits the screen offers. Plain data, driven by the screen on its own thread.
class LineCounterDocument {
  public:
    static constexpr int kDefaultLimit = 12;
    static constexpr int kMinimumLimit = 1;
    static constexpr int kMaximumLimit = 999;

    const std::vector<LineStat>& lines() const { return lines_; }
    int maxCharacterLimit() const { return maxCharacterLimit_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    void clearError() { errorMessage_.reset(); }

    /// Sets the limit (kept within kMinimumLimit..kMaximumLimit) and re-marks every row.
    void setMaxCharacterLimit(int limit);

    /// Rows of `content`: one per non-empty line, numbered by their line in the text (empty
    /// lines use up their number). Pure, so it can run away from the screen's thread.
    static std::vector<LineStat> buildLines(std::string_view content, int limit);

    /// Replaces the rows by those of `content`.
    void processDocument(std::string_view content);
    /// Puts rows built elsewhere (with buildLines) in place, re-marked against the current limit.
    void replaceLines(std::vector<LineStat> lines);

    /// Loads a UTF-8 text file. On failure sets errorMessage and keeps the rows; returns success.
    bool handleFileResult(const std::filesystem::path& file);

    /// The user typed into a row: a text with a line break splits the row, else it is recounted.
    /// Returns false when no row has that id.
    bool editLine(const std::string& id, std::string newText);
    /// The user left a row: a text that still holds a line break is split.
    void commitLine(const std::string& id);

    /// Recounts one row after its rawText changed.
    void updateLine(const std::string& id);
    void updateAllLines();
    /// Replaces the row by one row per line of `newText`, then renumbers every row.
    void splitLine(const std::string& id, std::string_view newText);
    void addNewLineAtEnd();
    bool deleteLine(const std::string& id);
    void renumberLines();

    /// The rows' texts joined with "\n".
    std::string exportText() const;
    /// Writes exportText atomically. On failure sets errorMessage ("保存文件时出错: " + reason).
    bool exportContent(const std::filesystem::path& file);

    /// The text an error is shown with: "错误: " + message.
    static std::string errorDisplayText(std::string_view message);
    /// The limit panel's text: "当前限制: " + limit + " 个汉字".
    std::string limitText() const;

  private:
    LineStat makeLine(int64_t number, std::string text) const;
    void recompute(LineStat& line) const;
    LineStat* find(const std::string& id);

    std::vector<LineStat> lines_;
    int maxCharacterLimit_ = kDefaultLimit;
    std::optional<std::string> errorMessage_;
};

}  // namespace quillora
