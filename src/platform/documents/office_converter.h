#pragma once

#include <filesystem>
#include <stop_token>
#include <string>

#include "platform/error.h"

namespace quillora::documents {

/// LibreOffice did not produce the document: its exit status (0 when it exited cleanly without
/// writing anything), its standard error as written, and that text trimmed (start-up notices
/// left out) as the description.
class OfficeError : public Error {
  public:
    OfficeError(int exitStatus, const std::string& description, std::string standardError);
    int exitStatus() const { return exitStatus_; }
    const std::string& standardError() const { return standardError_; }

  private:
    int exitStatus_;
    std::string standardError_;
};

/// The conversion was stopped through its stop token; description() is "转换已取消".
class OfficeCancelledError : public Error {
  public:
    OfficeCancelledError() : Error("转换已取消") {}
};

/// Converts documents with headless LibreOffice (`soffice` on the PATH). One converter owns one
/// user profile folder, created on first use and reused, so only the first conversion pays for
/// it; conversions through one profile take turns, also across processes (a lock file).
class OfficeConverter {
  public:
    /// A converter on the profile folder `profile` (need not exist yet).
    explicit OfficeConverter(std::filesystem::path profile);

    /// The converter of conversion slot `slot` (0, 1, ...): its profile lives in `folder`, by
    /// default this user's folder under the system temporary folder, so later runs reuse it.
    static OfficeConverter forSlot(int slot, const std::filesystem::path& folder = {});

    /// Writes `input` (TXT read as UTF-8, RTF, DOCX, ODT, ...) as a Word 97 DOC to `output`,
    /// replacing a file there. Throws OfficeError, OfficeCancelledError, or ProcessLaunchError when
    /// soffice is missing.
    void convertToDoc(const std::filesystem::path& input, const std::filesystem::path& output,
                      std::stop_token stopToken = {}) const;

    /// The plain text of a document (DOC, DOCX, RTF, ODT, ...) as UTF-8, lines ending in "\n".
    /// Throws like convertToDoc().
    std::string readText(const std::filesystem::path& input, std::stop_token stopToken = {}) const;

    const std::filesystem::path& profile() const { return profile_; }

  private:
    std::filesystem::path profile_;
};

}  // namespace quillora::documents
