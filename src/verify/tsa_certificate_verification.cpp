#include "verify/tsa_certificate_verification.h"

#include <openssl/x509_vfy.h>

#include <cstring>
#include <vector>

#include "certs/cert_list.h"
#include "certs/certificate_decoding.h"
#include "verify/certificate_gathering.h"
#include "certs/crl_cache.h"
#include "certs/crl_distribution_points.h"
#include "certs/names.h"
#include "x509/names.h"
#include "x509/ossl_ptr.h"
#include "certs/root_lookup.h"
#include "certs/zorbelutil_lib.h"
#include "frame/module_state.h"
#include "platform/clock.h"
#include "platform/deadline.h"
#include "ui/windows.h"
#include "util/generalized_time.h"
#include "verify/verification_steps.h"

namespace zorbelu::certs {
namespace {

constexpr uint32_t kPemConversionCapacity = 15000;

using StoreCtxPtr = X509StoreCtxPtr;

enum class Check { Chain, Revocation };

// OpenSSL's verdict as the library's: the same error means another thing
// in the chain check than in the revocation check.
uint32_t MapVerifyError(int error, Check check) {
    const bool chain = check == Check::Chain;
    switch (error) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            return chain ? ZORBELU_VS_CERT_UNTRUSTED : ZORBELU_VS_REVOCATION_UNKNOWN;
        case X509_V_ERR_UNABLE_TO_GET_CRL:
            return chain ? ZORBELU_VS_CERT_INVALID : ZORBELU_VS_CRL_UNAVAILABLE;
        case X509_V_ERR_CRL_NOT_YET_VALID:
        case X509_V_ERR_CRL_HAS_EXPIRED:
            return chain ? ZORBELU_VS_CERT_INVALID : ZORBELU_VS_CRL_EXPIRED;
        case X509_V_ERR_OUT_OF_MEM:
            return ZORBELU_ERR_MEMORY;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
            return chain ? ZORBELU_VS_ROOT_UNAVAILABLE : ZORBELU_VS_REVOCATION_UNKNOWN;
        case X509_V_ERR_CERT_REVOKED:
            return chain ? ZORBELU_VS_CERT_INVALID : ZORBELU_VS_CERT_REVOKED;
        case X509_V_ERR_INVALID_CA:
            return chain ? ZORBELU_VS_CERT_UNTRUSTED : ZORBELU_VS_REVOCATION_UNKNOWN;
        default:
            return chain ? ZORBELU_VS_CERT_INVALID : ZORBELU_VS_REVOCATION_UNKNOWN;
    }
}

// One X509_verify_cert run; the library's verdict, or 1005.
uint32_t RunVerification(X509_STORE* x509Store, X509* cert, int64_t time, Check check, uint32_t success) {
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), x509Store, cert, nullptr) != 1) return ZORBELU_ERR_MEMORY;
    if (time > 0) X509_STORE_CTX_set_time(ctx.get(), 0, static_cast<time_t>(time));
    const int verified = X509_verify_cert(ctx.get());
    return verified == 1 ? success : MapVerifyError(X509_STORE_CTX_get_error(ctx.get()), check);
}

X509* DecodeBlob(const ZORBELUCertBlob* blob) {
    if (blob->length > INT32_MAX || blob->encoding == ZORBELU_ENCODING_DETECT) return nullptr;
    return DecodeCertificate(blob->data, static_cast<int32_t>(blob->length), blob->encoding);
}

bool IsCoreStore(const ZORBELCertStore* store) { return store != nullptr && store->size == ZORBEL_CERT_STORE_MARK; }

// The certificate as DER (PEM converted), decoded, with its names.
struct Decoded {
    std::vector<uint8_t> der;
    X509Ptr cert;
    const uint8_t* issuer = nullptr;
    size_t issuerLength = 0;
    bool selfIssued = false;
};

uint32_t DecodeTsaCertificate(const ZORBELUCertBlob* blob, Decoded* out) {
    if (DetectEncoding(blob->data, blob->length) == ZORBELU_ENCODING_PEM) {
        uint32_t capacity = kPemConversionCapacity;
        out->der.resize(capacity);
        if (PemCertToDer(blob->data, blob->length, out->der.data(), &capacity) != ZORBELU_OK)
            return ZORBELU_ERR_CERT_DECODE;
        out->der.resize(capacity);
    } else {
        out->der.assign(blob->data, blob->data + blob->length);
    }
    out->cert.reset(DecodeCertificate(out->der.data(), static_cast<int32_t>(out->der.size()), ZORBELU_ENCODING_DER));
    const uint8_t* subject = nullptr;
    size_t subjectLength = 0;
    if (!out->cert || !x509::GetIssuerAndSubjectDer(out->cert.get(), &out->issuer, &out->issuerLength, &subject,
                                              &subjectLength))
        return ZORBELU_ERR_CERT_DECODE;
    out->selfIssued = NamesEqual(subject, subjectLength, out->issuer, out->issuerLength);
    return ZORBELU_OK;
}

uint32_t CheckBlob(const ZORBELUCertBlob* cert) {
    if (cert->data == nullptr || cert->length == 0) return ZORBELU_ERR_PARAM;
    if (cert->encoding < ZORBELU_ENCODING_DETECT || cert->encoding > ZORBELU_ENCODING_PEM)
        return ZORBELU_ERR_CRL_ENCODING;
    return ZORBELU_OK;
}

// The chain and revocation verdicts of a certificate that is not self-issued,
// judged now with the chain from the system stores and the CRLs fetched.
uint32_t JudgeWithSystemStores(const Decoded& tsa, CertList& list, ZORBELUCRLCacheStore* cache,
                               const platform::Deadline& deadline, ZORBELU_HWND owner, int64_t reference,
                               ZORBELUTSACertResult* result, bool* unreachable) {
    verify::CoreStorePtr store(ZORBELCreateCertStore());
    if (!store) return ZORBELU_ERR_MEMORY;
    uint32_t walked = BuildChainFromSystemStores(store.get(), list, tsa.cert.get());
    if (walked != ZORBELU_OK && FetchIssuersWithWindowsChain(tsa.cert.get(), deadline) == ZORBELU_OK)
        walked = BuildChainFromSystemStores(store.get(), list, tsa.cert.get());
    if (walked != ZORBELU_OK) result->chain = ZORBELU_VS_ROOT_UNAVAILABLE;

    if (FillCrlUrlsOfList(list) != ZORBELU_OK) {
        result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
    } else {
        ZORBELUCRLCacheStore* used = cache;
        if (used == nullptr && (used = CreateCrlCacheStore()) == nullptr) return ZORBELU_ERR_MEMORY;
        const uint32_t fetched = FetchCRLsForList(store.get(), list, used, deadline, owner);
        if (used != cache) {
            if (const uint32_t freed = FreeCrlCacheStore(used); freed != ZORBELU_OK) return freed;
        }
        if (fetched != ZORBELU_OK) {
            result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
            *unreachable = fetched == ZORBELU_ERR_COMM_CONNECT;
        }
    }
    if (result->chain != 0 && result->revocation != 0) return ZORBELU_OK;
    const ZORBELUCertBlob der{const_cast<uint8_t*>(tsa.der.data()), static_cast<uint32_t>(tsa.der.size()),
                              ZORBELU_ENCODING_DER};
    return VerifyWithX509Store(&der, store.get(), result, 0, reference);
}

uint32_t VerifyTsaCertificate(const ZORBELUCertBlob* cert, ZORBELUCRLCacheStore* cache, int32_t timeout,
                              const ZORBELUProxyInfo* proxy, ZORBELUTSACertResult* result) {
    if (cert == nullptr || result == nullptr) return ZORBELU_ERR_PARAM;
    if (const uint32_t valid = CheckBlob(cert); valid != ZORBELU_OK) return valid;
    // The time limit bounds everything the call downloads, together.
    const platform::Deadline deadline =
        platform::Deadline::After(verify::EffectiveTimeLimit(timeout));
    ZORBELUProxyInfo settings;
    if (const uint32_t copied = verify::CopyConnectionSettings(proxy, platform::GetActiveWindow(), &settings);
        copied != ZORBELU_OK)
        return copied;
    if (const uint32_t handed = verify::HandSettingsToCommunication(settings); handed != ZORBELU_OK) return handed;

    std::memset(result, 0, sizeof *result);
    CertList list;
    Decoded tsa;
    if (const uint32_t decoded = DecodeTsaCertificate(cert, &tsa); decoded != ZORBELU_OK) return decoded;
    list.Append(X509_dup(tsa.cert.get()));

    int64_t reference = 0;
    result->validity = CheckCertValidityAt(tsa.cert.get(), 0, &reference) ? ZORBELU_OK : ZORBELU_VS_CERT_EXPIRED;
    if (tsa.selfIssued) {
        // Trusted only as a root of its own; never tested against a CRL.
        result->chain = FindCertificateBySubject("ROOT", tsa.issuer, tsa.issuerLength) ? ZORBELU_VS_CERT_SIGNATURE_OK
                                                                                         : ZORBELU_VS_ROOT_UNAVAILABLE;
        result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
        return ZORBELU_OK;
    }
    bool unreachable = false;
    const uint32_t judged =
        JudgeWithSystemStores(tsa, list, cache, deadline, settings.ownerWindow, reference, result, &unreachable);
    if (judged != ZORBELU_OK) return judged;
    return unreachable ? ZORBELU_ERR_COMM_CONNECT : ZORBELU_OK;
}

uint32_t VerifyTsaCertificateAtTime(const ZORBELUCertBlob* cert, const ZORBELCertStore* store, int64_t t,
                                    ZORBELUTSACertResult* result) {
    if (cert == nullptr || store == nullptr || result == nullptr || t <= 0) return ZORBELU_ERR_PARAM;
    if (const uint32_t valid = CheckBlob(cert); valid != ZORBELU_OK) return valid;
    std::memset(result, 0, sizeof *result);
    Decoded tsa;
    if (const uint32_t decoded = DecodeTsaCertificate(cert, &tsa); decoded != ZORBELU_OK) return decoded;
    int64_t reference = 0;
    result->validity = CheckCertValidityAt(tsa.cert.get(), t, &reference) ? ZORBELU_OK : ZORBELU_VS_CERT_EXPIRED;
    if (tsa.selfIssued) {
        result->chain = ZORBELU_VS_CERT_SIGNATURE_OK;
        result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
        return ZORBELU_OK;
    }
    if (!IsCoreStore(store)) return ZORBELU_ERR_CERT_STORE;
    const bool hasCas = store->caCerts != nullptr;
    const bool hasCrls = store->crls != nullptr;
    if (hasCrls && !hasCas) return ZORBELU_ERR_CDP;
    if (!hasCrls && !hasCas) {
        result->chain = ZORBELU_VS_ROOT_UNAVAILABLE;
        result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
        return ZORBELU_OK;
    }
    if (!hasCrls) result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
    const ZORBELUCertBlob der{tsa.der.data(), static_cast<uint32_t>(tsa.der.size()), ZORBELU_ENCODING_DER};
    return VerifyWithX509Store(&der, store, result, t, reference);
}

}  // namespace

bool CheckCertValidityAt(X509* cert, int64_t t, int64_t* reference) {
    if (t <= 0) t = platform::Now();
    const int64_t notBefore = util::Asn1TimeToTimeT(X509_get0_notBefore(cert));
    const int64_t notAfter = util::Asn1TimeToTimeT(X509_get0_notAfter(cert));
    if (notBefore <= t && t < notAfter) {
        *reference = 0;
        return true;
    }
    *reference = notAfter - 1;
    return false;
}

uint32_t VerifyWithX509Store(const ZORBELUCertBlob* blob, const ZORBELCertStore* store, ZORBELUTSACertResult* result,
                             int64_t checkTime, int64_t chainTime) {
    if (!IsCoreStore(store)) return ZORBELU_ERR_CERT_STORE;
    X509StorePtr x509Store(X509_STORE_new());
    if (!x509Store) return ZORBELU_ERR_MEMORY;
    X509Ptr cert(DecodeBlob(blob));
    if (!cert) return ZORBELU_ERR_CERT_DECODE;

    if (LoadCACertsIntoX509Store(store, x509Store.get()) != ZORBELU_OK) {
        result->chain = ZORBELU_VS_ROOT_UNAVAILABLE;
    } else if (result->chain == 0) {
        X509_STORE_set_flags(x509Store.get(), X509_V_FLAG_CRL_CHECK_ALL);
        const int64_t time = chainTime > 0 ? chainTime : checkTime;
        const uint32_t verdict =
            RunVerification(x509Store.get(), cert.get(), time, Check::Chain, ZORBELU_VS_CERT_SIGNATURE_OK);
        if (verdict == ZORBELU_ERR_MEMORY) return verdict;
        result->chain = verdict;
    }
    if (result->revocation != 0 || store->crls == nullptr) return ZORBELU_OK;
    if (LoadCRLsIntoX509Store(store, x509Store.get()) != ZORBELU_OK) {
        result->revocation = ZORBELU_VS_CRL_UNAVAILABLE;
        return ZORBELU_OK;
    }
    // With the flag of the chain check still set, every certificate of the
    // chain is tested against the CRLs; else the TSA certificate alone.
    X509_STORE_set_flags(x509Store.get(), X509_V_FLAG_CRL_CHECK);
    const uint32_t verdict = RunVerification(x509Store.get(), cert.get(), checkTime, Check::Revocation,
                                             ZORBELU_VS_NOT_REVOKED);
    if (verdict == ZORBELU_ERR_MEMORY) return verdict;
    result->revocation = verdict;
    return ZORBELU_OK;
}

}  // namespace zorbelu::certs

using zorbelu::frame::GuardedExport;

extern "C" {

ZORBELU_API uint32_t ZORBELUVerifyTSACertificate(const ZORBELUCertBlob* cert, ZORBELUCRLCacheStore* cache,
                                                 int32_t timeout, const ZORBELUProxyInfo* proxy,
                                                 ZORBELUTSACertResult* result) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION,
                         [&] { return zorbelu::certs::VerifyTsaCertificate(cert, cache, timeout, proxy, result); });
}

ZORBELU_API uint32_t ZORBELUVerifyTSACertificateAtTime(const ZORBELUCertBlob* cert, const ZORBELCertStore* store,
                                                       int64_t time, ZORBELUTSACertResult* result) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION,
                         [&] { return zorbelu::certs::VerifyTsaCertificateAtTime(cert, store, time, result); });
}

}  // extern "C"
