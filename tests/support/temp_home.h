#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace quillora::testing {

/// A fresh temporary folder that stands in for the user's home while alive: HOME and the XDG
/// data, config and documents variables point inside it. Removed (and variables restored) on exit.
class TempHome {
  public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    std::filesystem::path configHome() const { return root_ / "config"; }
    std::filesystem::path documents() const { return root_ / "Documents"; }

  private:
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

/// A fresh temporary folder, removed on exit.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path operator/(const std::string& name) const { return root_ / name; }

  private:
    std::filesystem::path root_;
};

/// A folder of stand-in programs put first on PATH while alive (PATH restored on exit).
class StandInPrograms {
  public:
    StandInPrograms();
    ~StandInPrograms();
    StandInPrograms(const StandInPrograms&) = delete;
    StandInPrograms& operator=(const StandInPrograms&) = delete;
    /// Writes an executable shell script `name` with this body (after "#!/bin/sh").
    void add(const std::string& name, const std::string& script) const;
    const std::filesystem::path& folder() const { return folder_.path(); }

  private:
    TempDir folder_;
    std::string savedPath_;
};

/// Writes a file (creating folders) for a test's input.
void writeTestFile(const std::filesystem::path& path, const std::string& contents);

/// The build tree's top folder and the source tree's top folder.
std::filesystem::path binaryDir();
std::filesystem::path sourceDir();

}  // namespace quillora::testing
