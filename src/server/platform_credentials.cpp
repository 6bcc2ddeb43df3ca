#include "server/platform_credentials.h"

#include "contract/platform_contract.h"

namespace quillora::server {

bool isAcceptedDailyToken(const std::string& token, std::chrono::system_clock::time_point now) {
    for (int days : {-1, 0, 1}) {
        if (token == contract::dailyToken(now, days)) return true;
    }
    return false;
}

bool isValidTaskId(const std::string& taskid) {
    if (taskid.empty() || taskid.size() > 64) return false;
    for (unsigned char c : taskid) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace quillora::server
