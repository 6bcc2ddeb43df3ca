#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/error.h"

namespace quillora {
namespace fs = std::filesystem;

namespace {

// XDG variables count only when they hold an absolute path.
fs::path xdgDirectory(const char* variable, const fs::path& fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    return homeDirectory() / fallbackUnderHome;
}

fs::path created(fs::path dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw FileError(ec, "cannot create " + dir.string());
    return dir;
}

}  // namespace

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/tmp";
}

fs::path applicationSupportDirectory() {
    return created(xdgDirectory("XDG_DATA_HOME", ".local/share") / "quillora");
}

fs::path documentsDirectory() {
    return created(xdgDirectory("XDG_DOCUMENTS_DIR", "Documents"));
}

fs::path configDirectory() {
    return xdgDirectory("XDG_CONFIG_HOME", ".config") / "quillora";
}

std::vector<fs::path> applicationDirectories() {
    std::vector<fs::path> directories{xdgDirectory("XDG_DATA_HOME", ".local/share") /
                                      "applications"};
    const char* value = std::getenv("XDG_DATA_DIRS");
    const std::string dataDirs = value && *value ? value : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= dataDirs.size()) {
        const std::size_t end = std::min(dataDirs.find(':', start), dataDirs.size());
        const std::string entry = dataDirs.substr(start, end - start);
        if (!entry.empty() && entry.front() == '/')
            directories.push_back(fs::path(entry) / "applications");
        start = end + 1;
    }
    return directories;
}

fs::path temporaryDirectory() {
    return fs::temp_directory_path();
}

}  // namespace quillora
