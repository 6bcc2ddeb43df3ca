#include "contract/platform_contract.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "service/http_client.h"
#include "service/network_service.h"
#include "service/service_errors.h"
#include "store/database_manager.h"
#include "subtitles/srt_parser.h"
#include "text/script_codec.h"
#include "text/time_codes.h"
#include "text/unicode.h"

namespace quillora {
namespace {

// Gaps shorter than this many frames (at 25 fps) between cues are closed.
constexpr double kGapFrames = 10.0;
// The download may take long for a big file, but never longer than this in all.
constexpr long kResultResourceTimeout = 120;
// A subtitle file of a very long recording stays far below this.
constexpr std::size_t kMaxResultBytes = std::size_t{256} << 20;

}  // namespace

std::filesystem::path srtPathForRecording(const std::filesystem::path& recording) {
    std::filesystem::path path = recording;
    return path.replace_extension("srt");
}

bool NetworkService::checkTaskCompletion(const KestruneItem& task, std::stop_token stopToken) {
    const std::string url =
        buildURL(endpoints_.taskBaseURL, std::string(contract::kResultPathPrefix) +
                                             percentEncodeQueryComponent(task.taskid) +
                                             contract::kResultPathSuffix);
    if (!isHttpURL(url)) throw UploadError::invalidURL();
    console("srt data=" + url + " ");

    HttpRequest request;
    request.url = url;
    request.timeoutSeconds = kResultResourceTimeout;
    request.stopToken = stopToken;
    request.maxReplyBytes = kMaxResultBytes;
    const HttpResponse response = performRequest(request);
    if (response.statusCode < 200 || response.statusCode > 299) {
        throw UploadError::serverError("unknown" + std::to_string(response.statusCode));
    }
    if (!isValidUtf8(response.body)) throw UploadError::invalidResponse();
    const std::string& body = response.body;
    // Only a body that starts with the first cue's number is a finished subtitle; anything
    // else ("steps/...", "failed/...") is looked at again in the next pass.
    if (body.rfind("1\n", 0) != 0) return false;

    if (task.movieFilePath.empty()) throw Error("任务没有录音路径，无法保存字幕文件");
    const std::filesystem::path srtPath = srtPathForRecording(task.movieFilePath);
    const std::string decoded = addfuhao(body);
    std::string stored = addemo(decoded);
    if (task.isrenmingtiao == 0) {
        writeFileAtomically(srtPath, adjustTimeGaps(decoded, kGapFrames));
    } else if (task.isrenmingtiao == 1 && !task.part1.empty()) {
        const std::string merged =
            adjustTimeGaps(SRTParser().merageText(decoded, task.part1), kGapFrames);
        writeFileAtomically(srtPath, merged);
        stored = merged;
    }

    const auto cues = static_cast<long long>(SRTParser().parse(body).size());
    const auto scriptLines = static_cast<long long>(splitNewlines(task.part2).size());
    const long long missing = scriptLines - cues;
    if (missing != 0) {
        database_.dsupdateTextLostByOrderId(
            task.orderid, std::to_string(scriptLines) + ":丢失" + std::to_string(missing) + "句");
        NotificationCenter::shared().post(notification::kDatabaseUpdated);
    }
    database_.dsupdateSrtAndStatus(task.orderid, stored, std::string(status::kSucceeded));
    NotificationCenter::shared().post(notification::kDatabaseUpdated);
    return true;
}

}  // namespace quillora
