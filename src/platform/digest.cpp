#include "platform/digest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/error.h"

namespace quillora {
namespace {

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Context startDigest(const EVP_MD* algorithm) {
    Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) {
        throw LibraryError("digest computation failed");
    }
    return context;
}

void addToDigest(EVP_MD_CTX* context, const void* data, size_t size) {
    if (EVP_DigestUpdate(context, data, size) != 1) throw LibraryError("digest computation failed");
}

std::string finishDigest(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1) {
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

std::string hexDigest(const EVP_MD* algorithm, std::string_view data) {
    Context context = startDigest(algorithm);
    addToDigest(context.get(), data.data(), data.size());
    return finishDigest(context.get());
}

}  // namespace

std::string md5Hex(std::string_view data) {
    return hexDigest(EVP_md5(), data);
}

std::string sha256Hex(std::string_view data) {
    return hexDigest(EVP_sha256(), data);
}

std::string sha256HexOfFile(const std::filesystem::path& path) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
    if (!file)
        throw FileError(std::error_code(errno, std::generic_category()),
                        "cannot open " + path.string());
    Context context = startDigest(EVP_sha256());
    std::vector<unsigned char> buffer(1 << 20);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        addToDigest(context.get(), buffer.data(), got);
    if (std::ferror(file.get()))
        throw FileError(std::make_error_code(std::errc::io_error), "cannot read " + path.string());
    return finishDigest(context.get());
}

}  // namespace quillora
