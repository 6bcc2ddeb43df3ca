#include "service/tokens.h"

#include "contract/platform_contract.h"
#include "platform/digest.h"

namespace quillora {

std::string md5(std::string_view text) {
    return md5Hex(text);
}

std::string generateSHA256(std::string_view text) {
    return sha256Hex(text);
}

std::string shatoken(std::chrono::system_clock::time_point date) {
    return contract::dailyToken(date);
}

}  // namespace quillora
