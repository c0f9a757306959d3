// The verification engine for calls that bring a CRL buffer of their own:
// the TSA certificate's issuer must be a root of the system store "ROOT",
// and the TSA certificate's CRL is taken from the caller's buffer while it
// is current, else downloaded into it.
#include "certs/certificate_decoding.h"
#include "certs/crl_fetch.h"
#include "certs/names.h"
#include "frame/app.h"
#include "frame/module_state.h"
#include "platform/deadline.h"
#include "verify/request_validation.h"
#include "verify/token_verification_engine.h"
#include "verify/verification_steps.h"
#include "x509/names.h"
#include "x509/urls.h"

namespace zorbelu::verify {
namespace {

constexpr int kCrlDownloadAttempts = 6;
constexpr size_t kCrlUrlBufferSize = 1024;

// Where the CRL of this call goes: the caller's buffer, or a buffer of the
// call's own (10,000 bytes, growing like a scratch buffer), which no other
// thread can grow or free under the CRL.
struct CrlTarget {
    ZORBELUCRLBuffer* record = nullptr;
    ZORBELUCRLBuffer own{};
    frame::ScratchBuffer ownBytes;
    bool IsCallers(const ZORBELUCRLBuffer* caller) const { return record == caller; }

    void UseOwnBuffer() {
        if (ownBytes.data == nullptr) ownBytes.Grow();
        own = ZORBELUCRLBuffer{0, ownBytes.data, ownBytes.capacity, 0, ZORBELU_ENCODING_DETECT};
        record = &own;
    }
    void GrowOwnBuffer() {
        ownBytes.Grow();
        UseOwnBuffer();
    }
};

// The first plain-HTTP distribution point of the certificate, or nothing;
// a URL too long for the buffer is refused, never cut short.
bool FindCrlUrl(X509* cert, char (&url)[kCrlUrlBufferSize]) {
    const std::optional<x509::CrlUrl> first = x509::FirstCrlUrl(cert);
    return first && x509::CopyUrl(first->url, url, sizeof url);
}

// Downloads the CRL into the target, going over to the call's own buffer
// when the caller's is too small. Every attempt ends by the call's deadline.
certs::FetchedCrl DownloadCrl(CrlTarget& target, const ZORBELUCRLBuffer* callersBuffer, const char* url,
                              const platform::Deadline& deadline, ZORBELU_HWND owner) {
    const auto roomFor = [&](int attempt, uint32_t) -> certs::DownloadRoom {
        if (attempt > 1 && target.IsCallers(callersBuffer)) {
            // The caller's buffer is too small: its record says so, and this
            // call's CRL lives in the call's own buffer.
            target.record->bufferSize = 0;
            target.UseOwnBuffer();
        } else if (attempt > 1) {
            target.GrowOwnBuffer();
        }
        ZORBELUCRLBuffer& t = *target.record;
        t.encoding = ZORBELU_ENCODING_DETECT;
        t.crlLength = 0;
        t.state = 0;
        return {t.buffer, t.bufferSize};
    };
    certs::FetchedCrl fetched =
        certs::FetchCrl(url, certs::DownloadLimits{kCrlDownloadAttempts}, roomFor, deadline, owner);
    if (fetched.download.result == ZORBELU_OK) target.record->crlLength = fetched.download.length;
    return fetched;
}

// The CRL the caller's buffer holds, in the encoding its record names.
X509CrlPtr ParseTargetCrl(const ZORBELUCRLBuffer& t, uint32_t* encoding) {
    const uint32_t declared = t.encoding == ZORBELU_ENCODING_DETECT || t.encoding == ZORBELU_ENCODING_PEM
                                  ? t.encoding
                                  : ZORBELU_ENCODING_DER;
    return certs::DecodeCrl(t.buffer, t.crlLength, declared, encoding);
}

// Puts a current CRL of the TSA certificate into the core store, from the
// caller's buffer while it has not expired, else downloaded. When the CRL
// was issued by another CA than the TSA certificate's issuer, that CA must
// be a root too.
uint32_t ObtainCrl(ZORBELCertStore* store, const char* url, ZORBELUCRLBuffer* crlBuffer, const TsaCertificate& tsa,
                   const platform::Deadline& deadline, ZORBELU_HWND owner) {
    bool held = crlBuffer != nullptr && crlBuffer->state == 1;
    CrlTarget target;
    if (crlBuffer != nullptr && crlBuffer->bufferSize != 0)
        target.record = crlBuffer;
    else
        target.UseOwnBuffer();

    X509CrlPtr crl;
    uint32_t encoding = 0;
    if (held) {
        crl = ParseTargetCrl(*target.record, &encoding);
        if (!crl) return ZORBELU_VS_REVOCATION_UNKNOWN;
        if (certs::IsCRLPastNextUpdate(crl.get())) crl.reset();  // expired: fetch a fresh one
    }
    if (!crl) {
        certs::FetchedCrl fetched = DownloadCrl(target, crlBuffer, url, deadline, owner);
        const uint32_t result = fetched.download.result;
        if (fetched.download.outOfRoom || result == ZORBELU_ERR_BUFFER_TOO_SMALL) return ZORBELU_ERR_MEMORY;
        if (result != ZORBELU_OK) return certs::CrlDownloadFailure(result);
        if (!fetched.crl) return ZORBELU_VS_REVOCATION_UNKNOWN;  // fresh: not tested against nextUpdate
        crl = std::move(fetched.crl);
        encoding = fetched.encoding;
    }
    ZORBELUCRLBuffer& t = *target.record;
    t.encoding = encoding;
    const ZORBELUCertBlob record{t.buffer, t.crlLength, t.encoding};
    if (ZORBELAddCRL(store, &record) != ZORBELU_OK) return ZORBELU_VS_REVOCATION_UNKNOWN;
    t.state = 1;
    const unsigned char* crlIssuer = nullptr;
    size_t crlIssuerLength = 0;
    if (!x509::NameDer(X509_CRL_get_issuer(crl.get()), &crlIssuer, &crlIssuerLength))
        return ZORBELU_VS_REVOCATION_UNKNOWN;
    if (certs::NamesEqual(crlIssuer, crlIssuerLength, tsa.issuer, tsa.issuerLength)) return ZORBELU_OK;
    return AddRootCertificateNamed(store, crlIssuer, crlIssuerLength);
}

}  // namespace

uint32_t VerifyWithCrlBuffer(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                             const ZORBELUDigestInfo* currentDigest, ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                             const ZORBELUProxyInfo* proxy) {
    CoreStorePtr store(ZORBELCreateCertStore());
    if (!store) return ZORBELU_ERR_MEMORY;
    if (const uint32_t valid = ValidateToken(token); valid != ZORBELU_OK) return valid;
    if (digest == nullptr) return ZORBELU_ERR_PARAM;
    if (const uint32_t valid = ValidateDigestPair(digest, currentDigest); valid != ZORBELU_OK) return valid;
    if (const uint32_t valid = ValidateCrlBuffer(crlBuffer); valid != ZORBELU_OK) return valid;
    // The time limit bounds everything the call downloads, together.
    const platform::Deadline deadline = platform::Deadline::After(EffectiveTimeLimit(timeLimit));

    ZORBELUProxyInfo settings;
    if (const uint32_t copied = CopyConnectionSettings(proxy, nullptr, &settings); copied != ZORBELU_OK) return copied;
    if (const uint32_t handed = HandSettingsToCommunication(settings); handed != ZORBELU_OK) return handed;

    CoreTokenPtr read;
    if (const uint32_t result = ReadCoreToken(token, &read); result != ZORBELU_OK) return result;
    frame::ScratchBuffer certificateBytes;
    ZORBELUCertBlob certificate{};
    if (const uint32_t extracted = ExtractTsaCertificate(read.get(), certificateBytes, &certificate);
        extracted != ZORBELU_OK)
        return extracted;
    TsaCertificate tsa;
    if (const uint32_t decoded = TsaCertificateOf(read.get(), &tsa); decoded != ZORBELU_OK) return decoded;

    if (!tsa.selfIssued) {
        if (const uint32_t root = AddRootCertificateNamed(store.get(), tsa.issuer, tsa.issuerLength);
            root != ZORBELU_OK)
            return root;
        char url[kCrlUrlBufferSize];
        if (!FindCrlUrl(tsa.cert.get(), url)) return ZORBELU_VS_CERT_INVALID;
        const uint32_t crl = ObtainCrl(store.get(), url, crlBuffer, tsa, deadline, settings.ownerWindow);
        if (crl != ZORBELU_OK) {
            if (crlBuffer != nullptr) crlBuffer->state = 0;
            return crl;
        }
    }

    const uint32_t verified = MapCoreResult(ZORBELPRVVerifyToken(read.get(), digest, store.get()));
    if (verified != ZORBELU_OK) return verified;
    return CompareDigests(digest->digest, currentDigest != nullptr ? currentDigest->digest : nullptr,
                          currentDigest != nullptr ? currentDigest->digestLength : 0);
}

}  // namespace zorbelu::verify
