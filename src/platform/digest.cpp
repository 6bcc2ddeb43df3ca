#include "platform/digest.h"

#include <openssl/evp.h>

#include <memory>

#include "platform/error.h"

namespace quillora {
namespace {

std::string hexDigest(const EVP_MD* algorithm, std::string_view data) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        throw LibraryError("digest computation failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0F]);
    }
    return text;
}

}  // namespace

std::string md5Hex(std::string_view data) {
    return hexDigest(EVP_md5(), data);
}

std::string sha256Hex(std::string_view data) {
    return hexDigest(EVP_sha256(), data);
}

}  // namespace quillora
