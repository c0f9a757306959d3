#include "verify/verification_steps.h"

#include <cstring>

#include "certs/names.h"
#include "x509/names.h"
#include "frame/app.h"
#include "certs/root_lookup.h"
#include "verify/request_validation.h"
#include "zorbelcomm.h"

namespace zorbelu::verify {
namespace {

constexpr int kTsaCertificateAttempts = 6;

// Copies a text field within its size, always NUL-terminated.
template <size_t N>
void CopyField(char (&to)[N], const char (&from)[N]) {
    const void* end = std::memchr(from, '\0', N - 1);
    const size_t length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - from) : N - 1;
    std::memcpy(to, from, length);
    to[length] = '\0';
}

// What the verification makes of the core library's answer when it reads
// the token or is asked for the TSA certificate.
uint32_t TsaCertificateResult(uint32_t result) {
    switch (result) {
        case ZORBELU_OK:
        case ZORBELU_ERR_MEMORY:
        case ZORBELU_ERR_TSA_CERT:
        case ZORBELU_ERR_BUFFER_TOO_SMALL:
            return result;
        default:
            return ZORBELU_VS_DATA_DAMAGED;
    }
}

// Asks `get` for the TSA certificate into `buffer`, growing it while the
// certificate does not fit.
template <typename Get>
uint32_t ExtractInto(Get&& get, frame::ScratchBuffer& buffer, ZORBELUCertBlob* certificate) {
    for (int attempt = 1;; ++attempt) {
        if (buffer.data == nullptr) return ZORBELU_ERR_MEMORY;
        *certificate = ZORBELUCertBlob{buffer.data, buffer.capacity, 0};
        const uint32_t result = TsaCertificateResult(get(certificate));
        if (result != ZORBELU_ERR_BUFFER_TOO_SMALL) return result;
        if (attempt == kTsaCertificateAttempts) return ZORBELU_ERR_BUFFER_TOO_SMALL;
        buffer.Grow();
    }
}

}  // namespace

uint32_t EffectiveTimeLimit(uint32_t timeLimit) { return timeLimit == 0 ? kDefaultTimeLimitMs : timeLimit; }

uint32_t EffectiveTimeLimit(int32_t timeout) {
    return timeout <= 0 ? kDefaultTimeLimitMs : static_cast<uint32_t>(timeout);
}

uint32_t CopyConnectionSettings(const ZORBELUProxyInfo* proxy, ZORBELU_HWND defaultOwner, ZORBELUProxyInfo* copy) {
    std::memset(copy, 0, sizeof *copy);
    if (proxy == nullptr) {
        copy->credentialMode = ZORBELU_CREDENTIALS_NONE;
        copy->ownerWindow = defaultOwner;
        return ZORBELU_OK;
    }
    const uint32_t valid = ValidateProxyInfo(proxy);
    if (valid != ZORBELU_OK) return valid;
    copy->proxyMode = proxy->proxyMode;
    copy->credentialMode = proxy->credentialMode;
    copy->ownerWindow = proxy->ownerWindow;
    if (proxy->proxyMode == ZORBELU_PROXY_SERVER) CopyField(copy->proxyServer, proxy->proxyServer);
    if (proxy->credentialMode == ZORBELU_CREDENTIALS_GIVEN) {
        CopyField(copy->credential1, proxy->credential1);
        CopyField(copy->credential2, proxy->credential2);
        CopyField(copy->credential3, proxy->credential3);
    }
    return ZORBELU_OK;
}

uint32_t HandSettingsToCommunication(const ZORBELUProxyInfo& copy) {
    ZORBELUProxyInfo settings;
    std::memset(&settings, 0, sizeof settings);
    settings.proxyMode = copy.proxyMode;
    settings.credentialMode = copy.credentialMode;
    std::memcpy(settings.proxyServer, copy.proxyServer, sizeof settings.proxyServer);
    std::memcpy(settings.credential1, copy.credential1, sizeof settings.credential1);
    std::memcpy(settings.credential2, copy.credential2, sizeof settings.credential2);
    std::memcpy(settings.credential3, copy.credential3, sizeof settings.credential3);
    return ZORBELPRVSetProxy(&settings);
}

uint32_t ReadCoreToken(const ZORBELUBlob* token, CoreTokenPtr* read) {
    ZORBELPRVToken* raw = nullptr;
    const uint32_t result = ZORBELPRVReadToken(token, &raw);
    read->reset(raw);
    return TsaCertificateResult(result);
}

uint32_t ExtractTsaCertificate(const ZORBELUBlob* token, ZORBELUCertBlob* certificate) {
    return ExtractInto([&](ZORBELUCertBlob* out) { return ZORBELGetTSACert(token, out); },
                       frame::AccessScratchBuffer(frame::kTsaCertBuffer), certificate);
}

uint32_t ExtractTsaCertificate(const ZORBELPRVToken* token, frame::ScratchBuffer& buffer,
                               ZORBELUCertBlob* certificate) {
    if (buffer.data == nullptr) buffer.Grow();
    return ExtractInto([&](ZORBELUCertBlob* out) { return ZORBELPRVGetTokenTSACert(token, out); }, buffer,
                       certificate);
}

uint32_t TsaCertificateOf(const ZORBELPRVToken* token, TsaCertificate* tsa) {
    X509* cert = nullptr;
    if (ZORBELPRVGetTokenTSAX509(token, &cert) != ZORBELU_OK) return ZORBELU_VS_CERT_INVALID;
    tsa->cert.reset(cert);
    if (!x509::GetIssuerAndSubjectDer(tsa->cert.get(), &tsa->issuer, &tsa->issuerLength, &tsa->subject,
                                       &tsa->subjectLength))
        return ZORBELU_VS_CERT_INVALID;
    tsa->selfIssued = certs::NamesEqual(tsa->subject, tsa->subjectLength, tsa->issuer, tsa->issuerLength);
    return ZORBELU_OK;
}

uint32_t AddRootCertificateNamed(ZORBELCertStore* store, const uint8_t* name, size_t nameLength) {
    const auto root = certs::FindCertificateBySubject("ROOT", name, nameLength);
    if (!root) return ZORBELU_VS_CERT_UNTRUSTED;
    const ZORBELUCertBlob record{const_cast<uint8_t*>(root->data()), static_cast<uint32_t>(root->size()),
                                 ZORBELU_ENCODING_DER};
    return ZORBELAddCACert(store, &record) == ZORBELU_OK ? ZORBELU_OK : ZORBELU_VS_CERT_UNTRUSTED;
}

uint32_t MapCoreResult(uint32_t coreResult) {
    switch (coreResult) {
        case ZORBEL_VERIFY_STRUCTURE:
        case ZORBEL_VERIFY_SIGNATURE:
        case ZORBEL_VERIFY_ESS_BINDING:
        case ZORBEL_VERIFY_IMPRINT_ALGORITHM:
        case ZORBEL_VERIFY_IMPRINT_VALUE:
            return ZORBELU_VS_DATA_DAMAGED;
        case ZORBEL_VERIFY_CERT_INVALID:
            return ZORBELU_VS_CERT_INVALID;
        case ZORBEL_VERIFY_CERT_EXPIRED:
            return ZORBELU_VS_CERT_EXPIRED;
        case ZORBEL_VERIFY_CERT_REVOKED:
            return ZORBELU_VS_CERT_REVOKED;
        case ZORBEL_VERIFY_UNTRUSTED:
        case ZORBEL_VERIFY_INCOMPLETE:
            return ZORBELU_VS_CERT_UNTRUSTED;
        case ZORBEL_VERIFY_CRL_EXPIRED:
            return ZORBELU_VS_CRL_EXPIRED;
        default:
            return coreResult;  // 1, 2006 to 2009 and anything else pass unchanged
    }
}

uint32_t CompareDigests(const uint8_t* stamped, const uint8_t* current, uint32_t length) {
    if (current == nullptr) return ZORBELU_VS_OK;
    return std::memcmp(stamped, current, length) == 0 ? ZORBELU_VS_OK : ZORBELU_VS_DOCUMENT_EDITED;
}

}  // namespace zorbelu::verify
