// The ESS signing-certificate attributes (RFC 2634 v1 with SHA-1, RFC 5035
// v2 with any hash) that bind a token's signature to one certificate.
#ifndef ZORBEL_CORE_ESS_H
#define ZORBEL_CORE_ESS_H

#include <openssl/cms.h>
#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "core/plain_token.h"

namespace zorbel {

// The first ESSCertID(v2) of an attribute: the one that names the signer.
struct EssCertId {
    const EVP_MD* hash = nullptr;
    std::vector<uint8_t> certHash;
    bool hasIssuerSerial = false;
    std::vector<uint8_t> issuerNames;   // DER GeneralNames
    std::vector<uint8_t> serialOctets;  // INTEGER content octets
};

struct EssBinding {
    bool malformed = false;  // an attribute is present but unreadable
    std::optional<EssCertId> v1;
    std::optional<EssCertId> v2;
    bool Present() const { return v1.has_value() || v2.has_value(); }
};

EssBinding ReadEssBinding(CMS_SignerInfo* signerInfo);
EssBinding ReadEssBinding(const PlainToken& token);

// True when the identifier names `certificate`: its hash, and its issuer
// and serial when the identifier gives them.
[[nodiscard]] bool EssNames(const EssCertId& id, X509* certificate);

// True when every attribute present names `certificate` and one is present.
[[nodiscard]] bool EssBindsTo(const EssBinding& binding, X509* certificate);

}  // namespace zorbel

#endif
