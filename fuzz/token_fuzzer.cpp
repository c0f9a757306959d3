// Arbitrary bytes as a time-stamp token through every call that reads one:
// the token information, the TSA certificate, the TAC, the read-once calls,
// and verification with an empty core store and an empty "ROOT" store, once
// against the token's own imprint (so that the signer, ESS and certificate
// checks run) and once against a fixed digest.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstring>

#include "core/zorbel_private.h"
#include "fuzz_temp_folder.h"
#include "zorbel.h"

namespace {

// A fixed moment, so that a run does not change with the day: 2024-01-01.
constexpr const char* kNow = "1704067200";

uint8_t scratch[64 * 1024];

void CallOutputReaders(const ZORBELUBlob& blob) {
    ZORBELUCertBlob out{scratch, sizeof scratch, 0};
    (void)ZORBELGetTSACert(&blob, &out);
    out = ZORBELUCertBlob{scratch, sizeof scratch, 0};
    if (ZORBELGetTAC(&blob, &out) == ZORBEL_OK) {
        const ZORBELUBlob tac{out.data, out.length};
        ZORBELTACCertInfo info{};
        (void)ZORBELGetTACCertInfo(&tac, &info);
    }
}

// The imprint that the token claims, as a digest record; false when the
// token information cannot be read.
bool OwnImprint(const ZORBELUBlob& blob, ZORBELUDigestInfoEx& digest) {
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    if (ZORBELGetTimeStampInfoEx(&blob, &info) != ZORBEL_OK) return false;
    if (info.hashLength == 0 || info.hashLength > sizeof digest.digest) return false;
    std::memcpy(digest.algorithmOid, info.hashAlgorithmOid, sizeof digest.algorithmOid);
    std::memcpy(digest.digest, info.hashValue, info.hashLength);
    digest.digestLength = info.hashLength;
    return true;
}

ZORBELUDigestInfo FixedDigest() {
    ZORBELUDigestInfo digest{};
    std::strcpy(digest.algorithmOid, "2.16.840.1.101.3.4.2.1");  // SHA-256
    for (uint8_t i = 0; i < 32; ++i) digest.digest[i] = i;
    digest.digestLength = 32;
    return digest;
}

void CallReadOnce(const ZORBELUBlob& blob, const ZORBELUDigestInfoEx* ownImprint, ZORBELCertStore* store) {
    ZORBELPRVToken* token = nullptr;
    if (ZORBELPRVReadToken(&blob, &token) != ZORBEL_OK) return;
    ZORBELUCertBlob out{scratch, sizeof scratch, 0};
    (void)ZORBELPRVGetTokenTSACert(token, &out);
    X509* certificate = nullptr;
    if (ZORBELPRVGetTokenTSAX509(token, &certificate) == ZORBEL_OK) X509_free(certificate);
    if (ownImprint != nullptr) {
        (void)ZORBELPRVVerifyTokenEx(token, ownImprint, store);
        (void)ZORBELPRVVerifyTokenEx(token, ownImprint, nullptr);
    }
    ZORBELPRVFreeToken(token);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zorbelu::fuzz::UseEmptyStores();
    setenv("ZORBELU_TEST_NOW", kNow, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const ZORBELUBlob blob{data, static_cast<uint32_t>(size)};
    CallOutputReaders(blob);
    ZORBELUDigestInfoEx imprint{};
    const bool readable = OwnImprint(blob, imprint);
    ZORBELCertStore* store = ZORBELCreateCertStore();
    if (store == nullptr) return 0;
    CallReadOnce(blob, readable ? &imprint : nullptr, store);
    const ZORBELUDigestInfo fixed = FixedDigest();
    (void)ZORBELVerifyTimeStampToken(&blob, &fixed, nullptr, store);
    (void)ZORBELFreeCertStore(store);
    ERR_clear_error();
    return 0;
}
