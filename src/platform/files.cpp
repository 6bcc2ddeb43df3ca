#include "platform/files.h"

#include "platform/uuid.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <utility>

namespace quillora {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwErrno(const std::string& what) {
    throw FileError(std::error_code(errno, std::generic_category()), what);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// "." + the file name + the pieces, beside `path`. Appended piece by piece: GCC 12 at -O3 reports
// a false -Wrestrict (GCC bug 105329) for "." + std::string&&.
fs::path hiddenName(const fs::path& path, std::initializer_list<std::string_view> pieces) {
    std::string name = ".";
    name += path.filename().string();
    for (std::string_view piece : pieces)
        name += piece;
    return (path.has_parent_path() ? path.parent_path() : fs::path(".")) / name;
}

// Where a write to `path` lands: a symbolic link's final target, so the link stays a link.
fs::path followLinks(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::error_code ec;
        const fs::path target = fs::read_symlink(current, ec);
        if (ec) throw FileError(ec, "cannot follow the link " + current.string());
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throw FileError(std::make_error_code(std::errc::too_many_symbolic_link_levels), path.string());
}

// False (errno set) when a write fails.
bool writeAll(int fd, std::string_view contents) {
    const char* data = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

// A device, pipe or socket is written in place: renaming a regular file over it would destroy
// it (and writing to a full device must fail, not replace the device node).
void writeInPlace(const fs::path& target, std::string_view contents) {
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) throwErrno("cannot open " + target.string());
    if (!writeAll(fd.get(), contents)) throwErrno("cannot write " + target.string());
    if (::close(fd.release()) != 0) throwErrno("cannot close " + target.string());
}

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view contents, mode_t mode) {
    const fs::path target = followLinks(path);
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        throw FileError(std::make_error_code(std::errc::is_a_directory), target.string());
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        writeInPlace(target, contents);
        return;
    }

    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = hiddenName(target, {".XXXXXX"}).string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) throwErrno("cannot create a file in " + dir.string());
    const fs::path temp = pattern;
    auto fail = [&](const std::string& what) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        throwErrno(what);
    };
    // A file that is replaced keeps its permissions (and, where allowed, its owner); a file the
    // caller keeps private (no group or other bits in `mode`) stays private whatever it had.
    mode_t finalMode = exists ? (existing.st_mode & 07777) : mode;
    if ((mode & 077) == 0) finalMode &= ~static_cast<mode_t>(077);
    if (::fchmod(fd.get(), finalMode) != 0) fail("cannot set the mode of " + temp.string());
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // Best effort: without the right to give the file away, it keeps at least the group,
        // or else stays ours.
        const bool owned = ::fchown(fd.get(), existing.st_uid, existing.st_gid) == 0 ||
                           ::fchown(fd.get(), static_cast<uid_t>(-1), existing.st_gid) == 0;
        // chown may clear set-id bits; put the mode back.
        if (owned && ::fchmod(fd.get(), finalMode) != 0)
            fail("cannot set the mode of " + temp.string());
    }
    if (!writeAll(fd.get(), contents)) fail("cannot write " + path.string());
    if (::fsync(fd.get()) != 0) fail("cannot flush " + path.string());
    if (::close(fd.release()) != 0) fail("cannot close " + path.string());
    if (::rename(temp.c_str(), target.c_str()) != 0) fail("cannot replace " + path.string());
}

void checkCanWrite(const fs::path& path) {
    const fs::path target = followLinks(path);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) {
            throw FileError(std::make_error_code(std::errc::is_a_directory), target.string());
        }
        if (::access(target.c_str(), W_OK) != 0) throwErrno("cannot write " + target.string());
        return;
    }
    // Creating a file is what the write will do, so that is what is tried.
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (dir / ".write-check.XXXXXX").string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) throwErrno("cannot create a file in " + dir.string());
    ::unlink(pattern.c_str());
}

fs::path hiddenSiblingOf(const fs::path& target, std::string_view suffix) {
    return hiddenName(target, {".", uuidString(), suffix});
}

std::string readFile(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        throw FileError(std::make_error_code(std::errc::is_a_directory), path.string());
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throwErrno("cannot open " + path.string());
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) throwErrno("cannot read " + path.string());
    return std::move(buffer).str();
}

}  // namespace quillora
