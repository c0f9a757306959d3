#include "platform/stores/content_digest.h"

#include <openssl/evp.h>

#include <new>

namespace zorbelu::stores {

ContentDigest DigestOf(const uint8_t* data, size_t size) {
    ContentDigest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) != 1 || length != digest.size())
        throw std::bad_alloc();
    return digest;
}

DigestBuilder::DigestBuilder() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

DigestBuilder::~DigestBuilder() = default;

DigestBuilder& DigestBuilder::Add(const uint8_t* data, size_t size) {
    if (EVP_DigestUpdate(context_.get(), data, size) != 1) throw std::bad_alloc();
    return *this;
}

DigestBuilder& DigestBuilder::Add(uint64_t number) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    return Add(bytes, sizeof bytes);
}

ContentDigest DigestBuilder::Finish() {
    ContentDigest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 || length != digest.size()) throw std::bad_alloc();
    return digest;
}

}  // namespace zorbelu::stores
