// The exported verify calls: each validates or defaults its arguments and
// forwards to an engine, keeping its own argument order.
#include <cstring>

#include "frame/module_state.h"
#include "ui/windows.h"
#include "verify/full_verification.h"
#include "verify/token_verification_engine.h"
#include "zorbelutil.h"

namespace {

using zorbelu::frame::GuardedExport;

ZORBELUProxyInfo DefaultConnection(ZORBELU_HWND owner) {
    ZORBELUProxyInfo proxy;
    std::memset(&proxy, 0, sizeof proxy);
    proxy.proxyMode = ZORBELU_PROXY_DIRECT;
    proxy.credentialMode = ZORBELU_CREDENTIALS_NONE;
    proxy.ownerWindow = owner;
    return proxy;
}

}  // namespace

extern "C" {

ZORBELU_API uint32_t ZORBELUPRVVerifyTimeStampTokenEx2(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                       const ZORBELUDigestInfo* currentDigest,
                                                       ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                                                       const ZORBELUProxyInfo* proxy) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::verify::VerifyWithCrlBuffer(token, digest, currentDigest, crlBuffer, timeLimit, proxy);
    });
}

ZORBELU_API uint32_t ZORBELUPRVVerifyTimeStampTokenEx(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                      const ZORBELUDigestInfo* currentDigest,
                                                      ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        const ZORBELUProxyInfo proxy = DefaultConnection(nullptr);
        return zorbelu::verify::VerifyWithCrlBuffer(token, digest, currentDigest, crlBuffer, timeLimit, &proxy);
    });
}

ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenEx(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                   ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                                                   const ZORBELUProxyInfo* proxy) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::verify::VerifyWithCrlBuffer(token, digest, digest, crlBuffer, timeLimit, proxy);
    });
}

ZORBELU_API uint32_t ZORBELUVerifyTimeStampToken(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                 ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        const ZORBELUProxyInfo proxy = DefaultConnection(zorbelu::platform::GetActiveWindow());
        return zorbelu::verify::VerifyWithCrlBuffer(token, digest, digest, crlBuffer, timeLimit, &proxy);
    });
}

}  // extern "C"

// ---- Calls with a CRL cache store ------------------------------------------

extern "C" {

ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenEx2(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                    uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
                                                    ZORBELUCRLCacheStore* crlCache) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::verify::VerifyTimeStampTokenFull(token, digest, digest, crlCache, timeLimit, proxy);
    });
}

ZORBELU_API uint32_t ZORBELUPRVVerifyTimeStampTokenByPolicy(const ZORBELUBlob* token,
                                                            const ZORBELUDigestInfoEx* digest,
                                                            const ZORBELUDigestInfoEx* currentDigest,
                                                            ZORBELUCRLCacheStore* crlCache, uint32_t timeLimit,
                                                            const ZORBELUProxyInfo* proxy, uint32_t policy) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::verify::VerifyTimeStampTokenByPolicy(token, digest, currentDigest, crlCache, timeLimit,
                                                             proxy, policy);
    });
}

ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenByPolicy(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                         uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
                                                         ZORBELUCRLCacheStore* crlCache, uint32_t policy) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (policy < zorbelu::verify::kPolicyChainAndCrls || policy > zorbelu::verify::kPolicyIntegrityOnly)
            return ZORBELU_ERR_PARAM;
        return zorbelu::verify::VerifyTimeStampTokenByPolicy(token, digest, digest, crlCache, timeLimit, proxy,
                                                             policy);
    });
}

ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenEx3(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                    uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
                                                    ZORBELUCRLCacheStore* crlCache) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::verify::VerifyTimeStampTokenByPolicy(token, digest, digest, crlCache, timeLimit, proxy,
                                                             zorbelu::verify::kPolicyChainAndCrls);
    });
}

}  // extern "C"
