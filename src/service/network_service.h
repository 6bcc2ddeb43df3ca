#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "service/responses.h"
#include "store/kestrune_item.h"

namespace quillora {

class DatabaseManager;
class UserManager;

/// Base URLs of the two remote parties.
struct ServiceEndpoints {
    std::string apiBaseURL;   ///< sign-in and charging
    std::string taskBaseURL;  ///< upload, task start, result files

    /// The compiled-in local platform, overridden by QUILLORA_API_URL / QUILLORA_TASK_URL.
    static ServiceEndpoints fromEnvironment();
};

/// What one polling pass did.
struct PollingReport {
    int examined = 0;                  ///< records whose result was requested
    int finished = 0;                  ///< records that became "处理成功"
    int pending = 0;                   ///< records with no finished result yet
    int failed = 0;                    ///< records whose check failed (skipped this pass)
    bool skipped = false;              ///< another pass was still running
    std::optional<std::string> error;  ///< the first failure: a record's or the store's
};

/// The one client of the platform API host and the task server host. Operations block; call
/// them off any GUI thread.
class NetworkService {
  public:
    static NetworkService& shared();

    /// A client of the given hosts working on the given stores; opens the task store.
    NetworkService(ServiceEndpoints endpoints, DatabaseManager& database, UserManager& users);
    ~NetworkService();
    NetworkService(const NetworkService&) = delete;
    NetworkService& operator=(const NetworkService&) = delete;

    const std::string& srtloginURL() const { return srtloginURL_; }
    const std::string& koufeeURL() const { return koufeeURL_; }
    const ServiceEndpoints& endpoints() const { return endpoints_; }

    /// Signs a platform user in. Throws NetworkError, or TransportError unchanged.
    SRTLoginResponse srtLogin(const std::string& username, const std::string& password,
                              const std::string& srtUsername, const std::string& srtPassword);

    /// Charges the stored user `amount` minutes. Throws UploadError, TransportError or
    /// DecodingError; the reply's content is judged by chargeOutcome().
    DeductionResponse deductFee(double amount);

    /// Starts the server task. Throws UploadError, TransportError or DecodingError.
    SimpleResponse starttask(const std::string& taskid);

    /// Sends the script and the audio file as one multipart request. A missing audio file
    /// throws the file-reading FileError before anything is sent.
    UploadResult uploadFiles(const std::string& txt, const std::filesystem::path& file2URL,
                             const std::string& filename,
                             std::function<void(double)> progressHandler = {},
                             std::stop_token stopToken = {});

    /// Starts (or restarts) the result poller: the first pass one interval from now, then one
    /// per interval; a tick that finds a pass still running is skipped.
    void startNewlyOrdersTimer(std::chrono::milliseconds interval = std::chrono::seconds(60));
    /// Stops and joins the poller; a running pass finishes first.
    void stopNewlyOrdersTimer();

    /// One pass over the records in "处理中"; a record whose check fails is reported and
    /// skipped, a store failure ends the pass.
    PollingReport runPollingPass();

    /// Requests one record's result and stores it when finished; returns true then.
    bool checkTaskCompletion(const KestruneItem& task, std::stop_token stopToken = {});

  private:
    PollingReport runPass(std::stop_token stopToken);

    ServiceEndpoints endpoints_;
    DatabaseManager& database_;
    UserManager& users_;
    std::string srtloginURL_;
    std::string koufeeURL_;
    std::string serverURL_;

    std::mutex timerMutex_;
    std::jthread timer_;
    std::condition_variable_any timerWake_;
    std::atomic<bool> passRunning_{false};
};

/// The whole multipart body of an upload, for the boundary given.
std::string buildUploadBody(const std::string& boundary, const std::string& token,
                            const std::string& taskid, const std::string& txt,
                            const std::string& audio);

/// The recording's path with its last extension replaced by "srt".
std::filesystem::path srtPathForRecording(const std::filesystem::path& recording);

}  // namespace quillora
