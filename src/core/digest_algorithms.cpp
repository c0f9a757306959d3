#include "core/digest_algorithms.h"

#include <openssl/objects.h>

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

// The digests a token names, fetched on first use and kept for the process.
struct FetchedDigests {
    struct Entry {
        int nid;
        EVP_MD* md;
    };
    Entry entries[5] = {{NID_sha1, EVP_MD_fetch(nullptr, "SHA1", nullptr)},
                        {NID_sha224, EVP_MD_fetch(nullptr, "SHA224", nullptr)},
                        {NID_sha256, EVP_MD_fetch(nullptr, "SHA256", nullptr)},
                        {NID_sha384, EVP_MD_fetch(nullptr, "SHA384", nullptr)},
                        {NID_sha512, EVP_MD_fetch(nullptr, "SHA512", nullptr)}};
    ~FetchedDigests() {
        for (const Entry& entry : entries) EVP_MD_free(entry.md);
    }
};

}  // namespace

const EVP_MD* DigestForOid(const ASN1_OBJECT* oid) {
    static const FetchedDigests fetched;  // initialised once, even with many threads
    const int nid = OBJ_obj2nid(oid);
    for (const FetchedDigests::Entry& entry : fetched.entries)
        if (entry.nid == nid && entry.md != nullptr) return entry.md;
    return EVP_get_digestbyobj(oid);
}

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
