// The verifications that check the TSA certificate's whole path: the chain
// is walked through the system stores "CA" and "ROOT" (asking the chain
// engine for missing issuers), and a CRL is fetched for every certificate of
// the chain through a CRL cache store. The by-policy form lets the caller
// choose how much of this is done.
#include <cstring>
#include <exception>

#include "certs/cert_list.h"
#include "verify/certificate_gathering.h"
#include "certs/crl_cache.h"
#include "certs/crl_distribution_points.h"
#include "certs/zorbelutil_lib.h"
#include "frame/module_state.h"
#include "platform/deadline.h"
#include "ui/windows.h"
#include "verify/full_verification.h"
#include "verify/request_validation.h"
#include "verify/verification_steps.h"

namespace zorbelu::verify {
namespace {

// The TSA certificate of the token, decoded, and first in the list (which
// owns it from then on).
struct TsaInList {
    X509* cert = nullptr;
    bool selfIssued = false;
};

uint32_t TakeTsaCertificate(const ZORBELPRVToken* token, certs::CertList& list, TsaInList* tsa) {
    frame::ScratchBuffer buffer;
    ZORBELUCertBlob bytes{};
    if (const uint32_t extracted = ExtractTsaCertificate(token, buffer, &bytes); extracted != ZORBELU_OK)
        return extracted;
    TsaCertificate decoded;
    if (const uint32_t result = TsaCertificateOf(token, &decoded); result != ZORBELU_OK) return result;
    tsa->selfIssued = decoded.selfIssued;
    tsa->cert = decoded.cert.release();
    list.Append(tsa->cert);
    return ZORBELU_OK;
}

// Walks the chain into the core store; when the system stores do not reach
// a root, the chain engine may fetch the missing issuers, and the walk is
// made once more.
uint32_t WalkChain(ZORBELCertStore* store, certs::CertList& list, const TsaInList& tsa,
                   const platform::Deadline& deadline) {
    const uint32_t walked = certs::BuildChainFromSystemStores(store, list, tsa.cert);
    if (walked == ZORBELU_OK) return walked;
    if (certs::FetchIssuersWithWindowsChain(tsa.cert, deadline) != ZORBELU_OK) return walked;
    return certs::BuildChainFromSystemStores(store, list, tsa.cert);
}

// A CRL for every certificate of the list, through the caller's cache store
// or a temporary one.
uint32_t FetchCrls(ZORBELCertStore* store, certs::CertList& list, ZORBELUCRLCacheStore* crlCache,
                   const platform::Deadline& deadline, ZORBELU_HWND owner) {
    if (certs::FillCrlUrlsOfList(list) != ZORBELU_OK) return ZORBELU_VS_REVOCATION_UNKNOWN;
    if (crlCache != nullptr) return certs::FetchCRLsForList(store, list, crlCache, deadline, owner);
    ZORBELUCRLCacheStore* temporary = certs::CreateCrlCacheStore();
    if (temporary == nullptr) return ZORBELU_VS_REVOCATION_UNKNOWN;
    const uint32_t fetched = certs::FetchCRLsForList(store, list, temporary, deadline, owner);
    if (certs::FreeCrlCacheStore(temporary) != ZORBELU_OK) return ZORBELU_VS_REVOCATION_UNKNOWN;
    return fetched;
}

template <typename Digest>
uint32_t ValidateRequest(const ZORBELUBlob* token, const Digest* digest, const Digest* currentDigest) {
    if (const uint32_t valid = ValidateToken(token); valid != ZORBELU_OK) return valid;
    if (digest == nullptr) return ZORBELU_ERR_PARAM;
    return ValidateDigestPair(digest, currentDigest);
}

template <typename Digest>
uint32_t FinalDigestComparison(const Digest* digest, const Digest* currentDigest) {
    return CompareDigests(digest->digest, currentDigest != nullptr ? currentDigest->digest : nullptr,
                          currentDigest != nullptr ? currentDigest->digestLength : 0);
}

// The certificate stage of the full verification: an exception here means
// the certificate could not be judged.
uint32_t VerifyCertificatesAndToken(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                    const ZORBELUDigestInfo* currentDigest, ZORBELUCRLCacheStore* crlCache,
                                    const platform::Deadline& deadline, ZORBELU_HWND owner,
                                    ZORBELCertStore* store, certs::CertList& list) {
    try {
        CoreTokenPtr read;
        if (const uint32_t result = ReadCoreToken(token, &read); result != ZORBELU_OK) return result;
        TsaInList tsa;
        if (const uint32_t taken = TakeTsaCertificate(read.get(), list, &tsa); taken != ZORBELU_OK) return taken;
        if (!tsa.selfIssued) {
            if (const uint32_t walked = WalkChain(store, list, tsa, deadline); walked != ZORBELU_OK) return walked;
            if (const uint32_t crls = FetchCrls(store, list, crlCache, deadline, owner); crls != ZORBELU_OK)
                return crls;
        }
        const uint32_t verified = MapCoreResult(ZORBELPRVVerifyToken(read.get(), digest, store));
        if (verified != ZORBELU_OK) return verified;
        return FinalDigestComparison(digest, currentDigest);
    } catch (const std::exception&) {
        return ZORBELU_VS_CERT_INVALID;
    }
}

}  // namespace

uint32_t VerifyTimeStampTokenFull(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                  const ZORBELUDigestInfo* currentDigest, ZORBELUCRLCacheStore* crlCache,
                                  uint32_t timeLimit, const ZORBELUProxyInfo* proxy) {
    CoreStorePtr store(ZORBELCreateCertStore());
    if (!store) return ZORBELU_ERR_MEMORY;
    certs::CertList list;
    if (const uint32_t valid = ValidateRequest(token, digest, currentDigest); valid != ZORBELU_OK) return valid;
    // The time limit bounds everything the call downloads, together.
    const platform::Deadline deadline = platform::Deadline::After(EffectiveTimeLimit(timeLimit));
    ZORBELUProxyInfo settings;
    if (const uint32_t copied = CopyConnectionSettings(proxy, platform::GetActiveWindow(), &settings);
        copied != ZORBELU_OK)
        return copied;
    if (const uint32_t handed = HandSettingsToCommunication(settings); handed != ZORBELU_OK) return handed;
    return VerifyCertificatesAndToken(token, digest, currentDigest, crlCache, deadline, settings.ownerWindow,
                                      store.get(), list);
}

uint32_t VerifyTimeStampTokenByPolicy(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                      const ZORBELUDigestInfoEx* currentDigest, ZORBELUCRLCacheStore* crlCache,
                                      uint32_t timeLimit, const ZORBELUProxyInfo* proxy, uint32_t policy) {
    if (policy == kPolicyNothing) return ZORBELU_VS_OK;
    if (policy < kPolicyChainAndCrls || policy > kPolicyNothing) return ZORBELU_ERR_PARAM;
    certs::CertList list;
    // The time limit bounds everything the call downloads, together.
    const platform::Deadline deadline = platform::Deadline::After(EffectiveTimeLimit(timeLimit));
    if (const uint32_t valid = ValidateRequest(token, digest, currentDigest); valid != ZORBELU_OK) return valid;

    ZORBELUProxyInfo settings;
    std::memset(&settings, 0, sizeof settings);
    if (policy == kPolicyChainAndCrls) {
        if (const uint32_t copied = CopyConnectionSettings(proxy, platform::GetActiveWindow(), &settings);
            copied != ZORBELU_OK)
            return copied;
        if (const uint32_t handed = HandSettingsToCommunication(settings); handed != ZORBELU_OK) return handed;
    }

    CoreStorePtr store;
    CoreTokenPtr read;
    try {
        if (const uint32_t result = ReadCoreToken(token, &read); result != ZORBELU_OK) return result;
        TsaInList tsa;
        if (const uint32_t taken = TakeTsaCertificate(read.get(), list, &tsa); taken != ZORBELU_OK) return taken;
        if (policy != kPolicyIntegrityOnly && !tsa.selfIssued) {
            store.reset(ZORBELCreateCertStore());
            if (!store) return ZORBELU_ERR_MEMORY;
            if (const uint32_t walked = WalkChain(store.get(), list, tsa, deadline); walked != ZORBELU_OK)
                return walked;
        }
        if (policy == kPolicyChainAndCrls && !tsa.selfIssued) {
            if (const uint32_t crls = FetchCrls(store.get(), list, crlCache, deadline, settings.ownerWindow);
                crls != ZORBELU_OK)
                return crls;
        }
    } catch (const std::exception&) {
        return ZORBELU_VS_CERT_INVALID;
    }
    const uint32_t verified = MapCoreResult(ZORBELPRVVerifyTokenEx(read.get(), digest, store.get()));
    if (verified != ZORBELU_OK) return verified;
    return FinalDigestComparison(digest, currentDigest);
}

}  // namespace zorbelu::verify
