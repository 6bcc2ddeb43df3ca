#include "support/temp_home.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace quillora::testing {
namespace fs = std::filesystem;

namespace {

fs::path makeTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillora-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

}  // namespace

TempHome::TempHome() : root_(makeTempFolder()) {
    const std::map<std::string, fs::path> variables = {
        {"HOME", root_},
        {"XDG_DATA_HOME", dataHome()},
        {"XDG_CONFIG_HOME", configHome()},
        {"XDG_DOCUMENTS_DIR", documents()},
    };
    for (const auto& [name, value] : variables) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

TempHome::~TempHome() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

TempDir::TempDir() : root_(makeTempFolder()) {}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

StandInPrograms::StandInPrograms() {
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "/usr/bin:/bin";
    ::setenv("PATH", (folder_.path().string() + ":" + savedPath_).c_str(), 1);
}

StandInPrograms::~StandInPrograms() {
    ::setenv("PATH", savedPath_.c_str(), 1);
}

void StandInPrograms::add(const std::string& name, const std::string& script) const {
    writeTestFile(folder_ / name, "#!/bin/sh\n" + script);
    fs::permissions(folder_ / name, fs::perms::owner_all);
}

void writeTestFile(const fs::path& path, const std::string& contents) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out) throw std::runtime_error("cannot write test file " + path.string());
}

fs::path binaryDir() {
    return QUILLORA_BINARY_DIR;
}
fs::path sourceDir() {
    return QUILLORA_SOURCE_DIR;
}

}  // namespace quillora::testing
