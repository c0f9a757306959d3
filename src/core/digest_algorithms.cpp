#include "core/digest_algorithms.h"

#include <cstring>

#include "zorbel.h"

namespace zorbel {

namespace {

struct Algorithm {
    uint32_t code;
    const char* oid;
    size_t length;
    const EVP_MD* (*md)();
};

constexpr Algorithm kAlgorithms[] = {
    {ZORBEL_HASH_SHA1, "1.3.14.3.2.26", 20, EVP_sha1},
    {ZORBEL_HASH_MD5, "1.2.840.113549.2.5", 16, EVP_md5},
    {ZORBEL_HASH_SHA256, "2.16.840.1.101.3.4.2.1", 32, EVP_sha256},
    {ZORBEL_HASH_SHA384, "2.16.840.1.101.3.4.2.2", 48, EVP_sha384},
    {ZORBEL_HASH_SHA512, "2.16.840.1.101.3.4.2.3", 64, EVP_sha512},
};

}  // namespace

const EVP_MD* DigestForCode(uint32_t code) {
    for (const Algorithm& algorithm : kAlgorithms)
        if (algorithm.code == code) return algorithm.md();
    return nullptr;
}

size_t DigestLengthForOid(const char* oid) {
    for (const Algorithm& algorithm : kAlgorithms)
        if (std::strcmp(algorithm.oid, oid) == 0) return algorithm.length;
    return 0;
}

}  // namespace zorbel
