// Arbitrary bytes as a time-stamp token through every call that reads one (and
// as a TAC through the three TAC readers): the token information, the TSA certificate, the TAC, the read-once calls, and
// verification with an empty core store and an empty "ROOT" store, once against
// the token's own imprint (so that the signer, ESS and certificate checks run)
// and once against a fixed digest.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstring>

#include "core/zorbel_private.h"
#include "fuzz_common.h"
#include "zorbel.h"

namespace {

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

// The imprint that the token claims; false when the token information cannot be read.
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
    zorbelu::fuzz::FixClock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const ZORBELUBlob blob{data, static_cast<uint32_t>(size)};
    CallOutputReaders(blob);
    ZORBELTACCertInfo tacInfo{};  // the bytes as a TAC too
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
    (void)ZORBELGetTACCertInfo(&blob, &tacInfo);
    (void)ZORBELGetTACTimingMetrics(&blob, &metrics);
    (void)ZORBELGetTACTimingPolicy(&blob, &policy);
    ZORBELUDigestInfoEx imprint{};
    const bool readable = OwnImprint(blob, imprint);
    ZORBELCertStore* store = ZORBELCreateCertStore();
    if (store == nullptr) return 0;
    CallReadOnce(blob, readable ? &imprint : nullptr, store);
    ZORBELUDigestInfo fixed{};
    std::strcpy(fixed.algorithmOid, "2.16.840.1.101.3.4.2.1");  // SHA-256 of nothing in particular
    for (uint8_t i = 0; i < 32; ++i) fixed.digest[i] = i;
    fixed.digestLength = 32;
    (void)ZORBELVerifyTimeStampToken(&blob, &fixed, nullptr, store);
    (void)ZORBELFreeCertStore(store);
    ERR_clear_error();
    return 0;
}
