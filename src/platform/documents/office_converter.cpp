#include "platform/documents/office_converter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/uuid.h"

namespace quillora::documents {
namespace fs = std::filesystem;

OfficeError::OfficeError(int exitStatus, const std::string& description, std::string standardError)
    : Error(description), exitStatus_(exitStatus), standardError_(std::move(standardError)) {}

namespace {

// file:// URL of an absolute path, every byte outside the unreserved set percent-encoded.
std::string fileUrl(const fs::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const unsigned char c : fs::absolute(path).string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url.push_back(static_cast<char>(c));
        } else {
            url.push_back('%');
            url.push_back(kHex[c >> 4]);
            url.push_back(kHex[c & 0x0F]);
        }
    }
    return url;
}

// LibreOffice's standard error without the start-up notices it prints on every run.
std::string errorText(const std::string& standardError) {
    std::string kept;
    size_t start = 0;
    while (start < standardError.size()) {
        size_t end = standardError.find('\n', start);
        if (end == std::string::npos) end = standardError.size();
        const std::string line = standardError.substr(start, end - start);
        if (line.rfind("Warning: failed to launch javaldx", 0) != 0) {
            kept += line;
            kept += '\n';
        }
        start = end + 1;
    }
    const auto first = kept.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = kept.find_last_not_of(" \t\r\n");
    return kept.substr(first, last - first + 1);
}

// An exclusive lock on the profile, held while one conversion runs.
class ProfileLock {
  public:
    ProfileLock(const fs::path& lockFile, const std::stop_token& stopToken) {
        fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            throw OfficeError(0,
                              "无法锁定 LibreOffice 配置文件夹: " +
                                  std::error_code(errno, std::generic_category()).message(),
                              {});
        }
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (stopToken.stop_requested()) {
                ::close(fd_);
                throw OfficeCancelledError();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~ProfileLock() { ::close(fd_); }
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

  private:
    int fd_ = -1;
};

// A private folder beside the profile for one run, removed afterwards.
class WorkFolder {
  public:
    explicit WorkFolder(const fs::path& parent) : path_(parent / ("run-" + uuidString())) {
        fs::create_directories(path_ / "out");
    }
    ~WorkFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

std::string lowerExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// Runs one --convert-to and returns the file it wrote. The input is reached through a link
// with a plain ASCII name: the output is named after the input, and LibreOffice misreads
// non-ASCII names under a non-UTF-8 locale.
fs::path convert(const fs::path& profile, const fs::path& input, const std::string& target,
                 const std::string& outputExtension, const WorkFolder& work,
                 const std::stop_token& stopToken) {
    std::string extension = lowerExtension(input);
    for (const char c : extension) {
        if (c != '.' && !std::isalnum(static_cast<unsigned char>(c))) {
            extension.clear();
            break;
        }
    }
    const fs::path source = work.path() / ("source" + extension);
    fs::create_symlink(fs::absolute(input), source);

    std::vector<std::string> arguments = {"-env:UserInstallation=" + fileUrl(profile), "--headless",
                                          "--norestore", "--nolockcheck"};
    // Plain text is taken as UTF-8 rather than guessed from the locale.
    if (extension == ".txt") arguments.push_back("--infilter=Text (encoded):UTF8");
    arguments.insert(arguments.end(), {"--convert-to", target, "--outdir",
                                       (work.path() / "out").string(), source.string()});
    ProcessOptions options;
    options.stopToken = stopToken;
    const ProcessResult result = runProcess("soffice", arguments, options);
    if (result.stopped) throw OfficeCancelledError();
    const std::string message = errorText(result.standardError);
    if (result.exitStatus != 0) {
        throw OfficeError(result.exitStatus, message, result.standardError);
    }
    const fs::path written = work.path() / "out" / ("source." + outputExtension);
    std::error_code ec;
    // LibreOffice exits 0 when it cannot load the input; only the missing output tells.
    if (!fs::is_regular_file(written, ec)) {
        throw OfficeError(0, message.empty() ? "LibreOffice 未生成输出文件" : message,
                          result.standardError);
    }
    return written;
}

}  // namespace

OfficeConverter::OfficeConverter(fs::path profile) : profile_(std::move(profile)) {}

OfficeConverter OfficeConverter::forSlot(int slot, const fs::path& folder) {
    const fs::path parent =
        folder.empty() ? temporaryDirectory() / ("quillora-office-" + std::to_string(::getuid()))
                       : folder;
    return OfficeConverter(parent / ("profile-" + std::to_string(slot)));
}

void OfficeConverter::convertToDoc(const fs::path& input, const fs::path& output,
                                   std::stop_token stopToken) const {
    fs::create_directories(profile_.parent_path());
    ProfileLock lock(profile_.string() + ".lock", stopToken);
    WorkFolder work(profile_.parent_path());
    const fs::path written = convert(profile_, input, "doc", "doc", work, stopToken);
    std::error_code ec;
    fs::rename(written, output, ec);
    if (ec) {
        // Another file system: copy beside the target, then rename into place.
        writeFileAtomically(output, readFile(written));
    }
}

std::string OfficeConverter::readText(const fs::path& input, std::stop_token stopToken) const {
    fs::create_directories(profile_.parent_path());
    ProfileLock lock(profile_.string() + ".lock", stopToken);
    WorkFolder work(profile_.parent_path());
    const fs::path written =
        convert(profile_, input, "txt:Text (encoded):UTF8", "txt", work, stopToken);
    std::string text = readFile(written);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines.push_back(text[i]);
    }
    return lines;
}

}  // namespace quillora::documents
