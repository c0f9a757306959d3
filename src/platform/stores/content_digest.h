// The SHA-256 of some bytes, as the key of the caches that remember what was
// made of those bytes: equal bytes give equal results, so such an entry can
// never be stale, whatever changed elsewhere.
#ifndef ZORBELU_PLATFORM_STORES_CONTENT_DIGEST_H
#define ZORBELU_PLATFORM_STORES_CONTENT_DIGEST_H

#include <openssl/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "x509/ossl_ptr.h"

namespace zorbelu::stores {

using ContentDigest = std::array<uint8_t, 32>;

// Throws std::bad_alloc when OpenSSL cannot compute it (out of memory).
ContentDigest DigestOf(const uint8_t* data, size_t size);

// The digest is uniformly distributed already: its first bytes are the hash.
struct ContentDigestHash {
    size_t operator()(const ContentDigest& digest) const noexcept {
        size_t hash = 0;
        std::memcpy(&hash, digest.data(), sizeof hash);
        return hash;
    }
};

// Feeds several digests, counts and flags into one digest: the key of a
// result that depends on several objects.
class DigestBuilder {
public:
    DigestBuilder();
    ~DigestBuilder();
    DigestBuilder(const DigestBuilder&) = delete;
    DigestBuilder& operator=(const DigestBuilder&) = delete;

    DigestBuilder& Add(const uint8_t* data, size_t size);
    DigestBuilder& Add(const ContentDigest& digest) { return Add(digest.data(), digest.size()); }
    DigestBuilder& Add(uint64_t number);
    ContentDigest Finish();

private:
    MdCtxPtr context_;
};

}  // namespace zorbelu::stores

#endif
