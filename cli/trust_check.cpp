#include "trust_check.h"

#include <openssl/x509.h>

#include "x509/names.h"
#include "platform/stores/decoded_objects.h"
#include "platform/stores/store_files.h"
#include "platform/stores/system_store.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {
namespace {

// The first try at the TSA certificate; the core says how much room a
// larger one needs.
constexpr size_t kTsaCertificateGuess = 20000;

// Decoded once per process: the core has decoded the token's certificates.
X509Ptr Decode(const std::string& der) {
    return X509Ptr(stores::SharedCertificate(reinterpret_cast<const uint8_t*>(der.data()), der.size()));
}

// Self-issued by either rule that decides it: the library's (the names read
// the same as simple text, which skips the chain walk) and the core's
// (OpenSSL's canonical comparison). Whatever either treats as self-issued
// must earn trust as a root of its own.
bool IsSelfIssued(X509* cert) {
    const X509_NAME* subject = X509_get_subject_name(cert);
    const X509_NAME* issuer = X509_get_issuer_name(cert);
    if (X509_NAME_cmp(subject, issuer) == 0) return true;
    const auto subjectText = x509::CertNameToStrSimple(subject);
    const auto issuerText = x509::CertNameToStrSimple(issuer);
    return subjectText && issuerText && *subjectText == *issuerText;
}

bool RootHolds(const std::string& der) {
    const auto root = stores::SystemStore::Open("ROOT");
    return root && root->Contains(reinterpret_cast<const uint8_t*>(der.data()), der.size());
}

}  // namespace

std::optional<std::string> TsaCertificateOf(const ZORBELUBlob& token) {
    std::string der(kTsaCertificateGuess, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        ZORBELUCertBlob out{reinterpret_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size()), 0};
        const uint32_t result = ZORBELGetTSACert(&token, &out);
        if (result == ZORBEL_OK && out.length <= der.size()) {
            der.resize(out.length);
            return der;
        }
        // The certificate lies inside the token, so it is never larger.
        if (result != ZORBEL_ERR_BUFFER_TOO_SMALL || out.length <= der.size() || out.length > token.length) break;
        der.assign(out.length, '\0');
    }
    return std::nullopt;
}

std::optional<std::string> CertificateDer(const std::string& bytes) {
    const std::vector<stores::DerCertificate> certificates =
        stores::files::CertificatesIn(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    if (certificates.empty()) return std::nullopt;
    return std::string(certificates.front().begin(), certificates.front().end());
}

std::string SelfIssuedDistrust(const std::string& der) {
    const X509Ptr cert = Decode(der);
    if (!cert) return "the TSA certificate cannot be read";
    if (!IsSelfIssued(cert.get()) || RootHolds(der)) return "";
    return "the TSA certificate is self-issued and not in the trusted roots";
}

CheckedStatus ConfirmChain(uint32_t status, const ZORBELUBlob& token) {
    if (status != ZORBELU_VS_OK) return {status, ""};
    const std::optional<std::string> der = TsaCertificateOf(token);
    const std::string why = der ? SelfIssuedDistrust(*der) : "the TSA certificate cannot be taken from the token";
    return why.empty() ? CheckedStatus{status, ""} : CheckedStatus{ZORBELU_VS_CERT_UNTRUSTED, why};
}

std::string ConfirmChainVerdict(const std::string& der, ZORBELUTSACertResult* verdicts) {
    std::string why = SelfIssuedDistrust(der);
    if (!why.empty()) verdicts->chain = ZORBELU_VS_CERT_UNTRUSTED;
    return why;
}

}  // namespace zorbelu::cli
