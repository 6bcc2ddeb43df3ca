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

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view contents, mode_t mode) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string pattern = hiddenName(path, {".XXXXXX"}).string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) throwErrno("cannot create a file in " + dir.string());
    const fs::path temp = pattern;
    auto fail = [&](const std::string& what) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        throwErrno(what);
    };
    if (::fchmod(fd.get(), mode) != 0) fail("cannot set the mode of " + temp.string());
    const char* data = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd.get(), data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("cannot write " + path.string());
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    if (::fsync(fd.get()) != 0) fail("cannot flush " + path.string());
    if (::close(fd.release()) != 0) fail("cannot close " + path.string());
    if (::rename(temp.c_str(), path.c_str()) != 0) fail("cannot replace " + path.string());
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
