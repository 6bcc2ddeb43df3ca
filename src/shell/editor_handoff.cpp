#include "shell/editor_handoff.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "platform/console.h"
#include "platform/error.h"
#include "platform/files.h"
#include "service/http_client.h"
#include "service/network_service.h"
#include "subtitles/fcpxml_writer.h"
#include "subtitles/premiere_writer.h"

namespace quillora {

namespace fs = std::filesystem;

namespace {

// The string escapes of desktop entry values.
std::string unescapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                // Not a value escape: left for the Exec quoting rules to read.
                out += '\\';
                out += next;
        }
    }
    return out;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return "";
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// Arguments of an Exec line: white space separates, double quotes group, and inside quotes a
// backslash takes the next character literally.
std::vector<std::string> splitExec(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false;
    bool started = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = true;
            started = true;
        } else if (c == ' ' || c == '\t') {
            if (started) arguments.push_back(std::move(current));
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) arguments.push_back(std::move(current));
    return arguments;
}

std::string fileURL(const fs::path& file) {
    std::string url = "file://";
    for (const fs::path& part : fs::absolute(file).relative_path()) {
        url += "/" + percentEncodeQueryComponent(part.string());
    }
    return url;
}

std::string_view refusal(HandoffAction action) {
    switch (action) {
        case HandoffAction::showSrtPath:
            return "⚠️ 任务状态不是'处理成功'，无法显示SRT路径";
        case HandoffAction::openInFinalCut:
            return "⚠️ 任务状态不是'处理成功'，无法生成Final Cut Pro XML";
        case HandoffAction::openInPremiere:
            return "⚠️ 任务状态不是'处理成功'，无法生成Premiere XML";
    }
    return "";
}

}  // namespace

std::optional<DesktopApplication> readDesktopEntry(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    DesktopApplication application;
    application.entry = file;
    bool inMainGroup = false;
    bool isApplication = false;
    bool hidden = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string text = trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        if (text.front() == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (!inMainGroup || equals == std::string::npos) continue;
        const std::string key = trimmed(std::string_view(text).substr(0, equals));
        const std::string value = unescapeValue(trimmed(std::string_view(text).substr(equals + 1)));
        if (key == "Type") isApplication = value == "Application";
        if (key == "Name") application.name = value;
        if (key == "Exec") application.exec = value;
        if ((key == "Hidden" || key == "NoDisplay") && value == "true") hidden = true;
    }
    if (!isApplication || hidden || application.name.empty() || application.exec.empty()) {
        return std::nullopt;
    }
    return application;
}

std::vector<std::string> launchCommand(const DesktopApplication& application,
                                       const fs::path& file) {
    std::vector<std::string> command;
    bool fileGiven = false;
    for (const std::string& argument : splitExec(application.exec)) {
        std::string expanded;
        bool onlyDropped = !argument.empty();
        for (std::size_t i = 0; i < argument.size(); ++i) {
            if (argument[i] != '%' || i + 1 == argument.size()) {
                expanded += argument[i];
                onlyDropped = false;
                continue;
            }
            const char code = argument[++i];
            onlyDropped = onlyDropped && code != '%' && code != 'f' && code != 'F' && code != 'u' &&
                          code != 'U' && code != 'c' && code != 'k';
            if (code == 'f' || code == 'F') {
                expanded += file.string();
                fileGiven = true;
            } else if (code == 'u' || code == 'U') {
                expanded += fileURL(file);
                fileGiven = true;
            } else if (code == 'c') {
                expanded += application.name;
            } else if (code == 'k') {
                expanded += application.entry.string();
            } else if (code == '%') {
                expanded += '%';
            }
        }
        if (!onlyDropped) command.push_back(std::move(expanded));
    }
    // Launchers that forget the file code still get the document.
    if (!fileGiven && !command.empty()) command.push_back(file.string());
    return command;
}

std::vector<DesktopApplication> findPremiereApps(const std::vector<fs::path>& directories) {
    std::vector<DesktopApplication> found;
    for (const fs::path& directory : directories) {
        std::error_code error;
        if (!fs::exists(directory, error)) continue;
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(directory, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() == ".desktop") entries.push_back(it->path());
        }
        if (error) {
            console("查找Premiere应用程序失败: " + error.message());
            continue;
        }
        std::sort(entries.begin(), entries.end());
        for (const fs::path& entry : entries) {
            std::optional<DesktopApplication> application = readDesktopEntry(entry);
            if (application && application->name.find("Premiere") != std::string::npos) {
                found.push_back(std::move(*application));
            }
        }
    }
    return found;
}

fs::path dosrtofselected(const KestruneItem& task) {
    const fs::path srt = srtPathForRecording(task.movieFilePath);
    std::error_code error;
    if (!fs::exists(srt, error)) {
        try {
            writeFileAtomically(srt, task.srt);
        } catch (const std::exception& failure) {
            // The later steps work on whatever is at that place; the reason is still told.
            console("⚠️ 写入SRT文件失败: " + std::string(failure.what()));
        }
    }
    return srt;
}

HandoffDocuments prepareHandoff(HandoffAction action, const std::vector<KestruneItem>& rows,
                                const PremiereFormat& format,
                                const std::vector<fs::path>& premiereSearchPath) {
    HandoffDocuments documents;
    documents.action = action;
    for (const KestruneItem& row : rows) {
        if (row.status != status::kSucceeded) {
            console(refusal(action));
            break;
        }
        const fs::path srt = dosrtofselected(row);
        try {
            switch (action) {
                case HandoffAction::showSrtPath:
                    documents.files.push_back(srt);
                    break;
                case HandoffAction::openInFinalCut:
                    documents.files.push_back(convertSRTtoFCPXMLPublic(srt));
                    break;
                case HandoffAction::openInPremiere:
                    documents.files.push_back(writesrttoprbgxml(
                        srt, static_cast<float>(format.fps), format.width, format.height, false));
                    break;
            }
        } catch (const std::exception& error) {
            documents.error = std::string(error.what());
            console("❌ 生成文件失败: " + *documents.error);
            break;
        }
    }
    if (action == HandoffAction::openInPremiere && !documents.files.empty()) {
        documents.premiereApps = findPremiereApps(premiereSearchPath);
    }
    return documents;
}

void deliverHandoff(const HandoffDocuments& documents, Desktop& desktop) {
    for (const fs::path& file : documents.files) {
        switch (documents.action) {
            case HandoffAction::showSrtPath:
                desktop.revealFile(file);
                break;
            case HandoffAction::openInFinalCut:
                desktop.openWithDefaultApplication(file);
                break;
            case HandoffAction::openInPremiere:
                openWithPremiere(file, documents.premiereApps, desktop);
                break;
        }
    }
}

void openWithPremiere(const fs::path& xml, const std::vector<DesktopApplication>& applications,
                      Desktop& desktop) {
    if (applications.size() == 1) {
        desktop.openWithApplication(xml, applications.front());
    } else if (applications.empty()) {
        desktop.showNoPremiereAlert();
        desktop.revealFile(xml);
    } else if (const auto chosen = desktop.choosePremiereApplication(applications)) {
        desktop.openWithApplication(xml, *chosen);
    }
}

}  // namespace quillora
