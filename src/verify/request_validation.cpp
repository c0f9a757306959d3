#include "verify/request_validation.h"

#include <cstring>
#include <initializer_list>

#include "ui/windows.h"

namespace zorbelu::verify {
namespace {

struct DigestAlgorithm {
    const char* oid;
    uint32_t length;
    bool shortFormAccepts;  // fits ZORBELUDigestInfo's 40-byte digest
};

constexpr DigestAlgorithm kDigestAlgorithms[] = {
    {"1.3.14.3.2.26", 20, true},           // SHA-1
    {"1.2.840.113549.2.5", 16, true},      // MD5
    {"2.16.840.1.101.3.4.2.1", 32, true},  // SHA-256
    {"2.16.840.1.101.3.4.2.2", 48, false}, // SHA-384
    {"2.16.840.1.101.3.4.2.3", 64, false}, // SHA-512
};

bool HasNulWithin(const char* field, size_t bytes) { return std::memchr(field, '\0', bytes) != nullptr; }

template <typename Digest>
uint32_t ValidateDigestRecord(const Digest* digest, size_t nulWithin, bool extendedForm) {
    if (digest == nullptr) return ZORBELU_ERR_PARAM;
    if (!HasNulWithin(digest->algorithmOid, nulWithin)) return ZORBELU_ERR_DIGEST;
    const uint32_t expected = DigestLengthOf(digest->algorithmOid, extendedForm);
    if (expected == 0 || digest->digestLength != expected) return ZORBELU_ERR_DIGEST;
    return ZORBELU_OK;
}

template <typename Digest>
uint32_t ValidatePair(const Digest* digest, const Digest* currentDigest) {
    const uint32_t own = ValidateDigest(digest);
    if (own != ZORBELU_OK || currentDigest == nullptr) return own;
    const uint32_t current = ValidateDigest(currentDigest);
    if (current != ZORBELU_OK) return current;
    if (currentDigest->digestLength != digest->digestLength ||
        std::strcmp(currentDigest->algorithmOid, digest->algorithmOid) != 0)
        return ZORBELU_ERR_PARAM;
    return ZORBELU_OK;
}

uint32_t ValidateCredentials(const ZORBELUProxyInfo& proxy) {
    if (proxy.credentialMode == ZORBELU_CREDENTIALS_GIVEN) {
        for (const char* field : {proxy.credential1, proxy.credential2, proxy.credential3})
            if (!HasNulWithin(field, sizeof proxy.credential1)) return ZORBELU_ERR_TOO_LONG;
        return ZORBELU_OK;
    }
    if (proxy.credentialMode == ZORBELU_CREDENTIALS_NONE) {
        if (proxy.ownerWindow != nullptr && !platform::IsWindow(proxy.ownerWindow)) return ZORBELU_ERR_WINDOW;
        return ZORBELU_OK;
    }
    return ZORBELU_ERR_PARAM;
}

}  // namespace

uint32_t DigestLengthOf(const char* algorithmOid, bool extendedForm) {
    for (const DigestAlgorithm& algorithm : kDigestAlgorithms)
        if ((extendedForm || algorithm.shortFormAccepts) && std::strcmp(algorithmOid, algorithm.oid) == 0)
            return algorithm.length;
    return 0;
}

uint32_t ValidateToken(const ZORBELUBlob* token) {
    return token != nullptr && token->length != 0 && token->data != nullptr ? ZORBELU_OK : ZORBELU_ERR_PARAM;
}

// The short record must name its algorithm within 41 bytes, the long one
// within 129 (the NUL may be the first byte after the field).
uint32_t ValidateDigest(const ZORBELUDigestInfo* digest) { return ValidateDigestRecord(digest, 41, false); }
uint32_t ValidateDigest(const ZORBELUDigestInfoEx* digest) { return ValidateDigestRecord(digest, 129, true); }

uint32_t ValidateDigestPair(const ZORBELUDigestInfo* digest, const ZORBELUDigestInfo* currentDigest) {
    return ValidatePair(digest, currentDigest);
}

uint32_t ValidateDigestPair(const ZORBELUDigestInfoEx* digest, const ZORBELUDigestInfoEx* currentDigest) {
    return ValidatePair(digest, currentDigest);
}

uint32_t ValidateCrlBuffer(const ZORBELUCRLBuffer* crlBuffer) {
    if (crlBuffer == nullptr) return ZORBELU_OK;
    if (crlBuffer->state > 1 || crlBuffer->buffer == nullptr || crlBuffer->bufferSize == 0) return ZORBELU_ERR_PARAM;
    if (crlBuffer->state == 1) {
        if (crlBuffer->encoding < ZORBELU_ENCODING_DETECT || crlBuffer->encoding > ZORBELU_ENCODING_PEM)
            return ZORBELU_ERR_CRL_ENCODING;
        if (crlBuffer->crlLength == 0) return ZORBELU_ERR_PARAM;
    }
    return ZORBELU_OK;
}

uint32_t ValidateProxyInfo(const ZORBELUProxyInfo* proxy) {
    if (proxy == nullptr) return ZORBELU_OK;
    switch (proxy->proxyMode) {
        case ZORBELU_PROXY_SYSTEM:
            return ZORBELU_OK;
        case ZORBELU_PROXY_SERVER:
            if (!HasNulWithin(proxy->proxyServer, sizeof proxy->proxyServer)) return ZORBELU_ERR_TOO_LONG;
            return ValidateCredentials(*proxy);
        case ZORBELU_PROXY_DIRECT:
            return ValidateCredentials(*proxy);
        default:
            return ZORBELU_ERR_PARAM;
    }
}

}  // namespace zorbelu::verify
