// The system chain engine (CertGetCertificateChain) over the directory
// stores.
//
// From the certificate, each issuer is looked for in "CA", then in "ROOT":
// a certificate whose subject name reads the same as the child's issuer name
// (NamesEqual) and whose key verifies the child's signature
// (X509_check_issued and X509_verify). An issuer missing from both stores is
// downloaded from the child's authority-information-access caIssuers http://
// URL (DER or PEM) through the communication library; the first downloaded
// certificate whose key verifies the child is taken. The chain ends at a
// self-signed certificate, which is trusted when "ROOT" holds it.
//
// Downloaded issuers are kept in "CA" (not a self-signed one) only when the
// whole chain reached a trusted root with every signature verified, and only
// after the walk: a look-alike (an issuer's name with another key) that a
// hostile certificate points at never lands in the store. Adding never
// replaces a certificate already there.
//
// With CERT_CHAIN_REVOCATION_CHECK_END_CERT the end certificate is checked
// against the CRL of its first http:// distribution point: downloaded,
// signed by the issuer found for it, current at the chain's time.
//
// Bounds: at most kMaxChainLength certificates (end and root included),
// kMaxIssuerUrls caIssuers URLs per certificate and kMaxUrlsPerChain URLs of
// any kind for the whole chain, kMaxIssuerBytes and kIssuerTimeoutMs per
// issuer download, kMaxCrlBytes and kCrlTimeoutMs for the CRL, and the
// call's deadline (CERT_CHAIN_PARA::pDeadline) over all of them. A
// certificate met twice ends the chain as cyclic.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "certs/cert_store.h"
#include "platform/deadline.h"

namespace zorbelu::platform {

// ---- Trust status bits, with their Windows values --------------------------
// Errors:
inline constexpr uint32_t CERT_TRUST_NO_ERROR = 0x00000000u;
inline constexpr uint32_t CERT_TRUST_IS_NOT_TIME_VALID = 0x00000001u;
inline constexpr uint32_t CERT_TRUST_IS_REVOKED = 0x00000004u;
inline constexpr uint32_t CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x00000008u;
inline constexpr uint32_t CERT_TRUST_IS_UNTRUSTED_ROOT = 0x00000020u;
inline constexpr uint32_t CERT_TRUST_REVOCATION_STATUS_UNKNOWN = 0x00000040u;
inline constexpr uint32_t CERT_TRUST_IS_CYCLIC = 0x00000080u;
inline constexpr uint32_t CERT_TRUST_IS_PARTIAL_CHAIN = 0x00010000u;
inline constexpr uint32_t CERT_TRUST_IS_OFFLINE_REVOCATION = 0x01000000u;
// Ours, no Windows bit: the chain reached kMaxChainLength without a root
// (always together with CERT_TRUST_IS_PARTIAL_CHAIN).
inline constexpr uint32_t CERT_TRUST_EXCEEDS_LENGTH_LIMIT = 0x80000000u;
// Information:
inline constexpr uint32_t CERT_TRUST_HAS_NAME_MATCH_ISSUER = 0x00000004u;
inline constexpr uint32_t CERT_TRUST_IS_SELF_SIGNED = 0x00000008u;

// Flags of CertGetCertificateChain.
inline constexpr uint32_t CERT_CHAIN_REVOCATION_CHECK_END_CERT = 0x10000000u;

// Bounds of one chain.
inline constexpr size_t kMaxChainLength = 10;
inline constexpr size_t kMaxIssuerUrls = 4;
inline constexpr size_t kMaxIssuerCertificatesPerDownload = 8;
inline constexpr uint32_t kMaxIssuerBytes = 64 * 1024;
inline constexpr uint32_t kIssuerTimeoutMs = 10000;
inline constexpr uint32_t kMaxCrlBytes = 16 * 1024 * 1024;
inline constexpr uint32_t kCrlTimeoutMs = 15000;
// URLs of any kind (caIssuers, CRL) one chain may download from, whatever
// its certificates name: enough for a chain of kMaxChainLength whose every
// issuer is fetched, plus its CRL and a failing URL or two.
inline constexpr size_t kMaxUrlsPerChain = 12;
// The whole chain's downloads when the caller gives no deadline.
inline constexpr uint32_t kDefaultChainDeadlineMs = 15000;

struct CERT_TRUST_STATUS {
    uint32_t dwErrorStatus = CERT_TRUST_NO_ERROR;
    uint32_t dwInfoStatus = 0;
};

struct CERT_CHAIN_ELEMENT {
    UniqueCertContext pCertContext;
    CERT_TRUST_STATUS TrustStatus;
};

// From the end certificate to the root (or as far as it could be built).
struct CERT_SIMPLE_CHAIN {
    CERT_TRUST_STATUS TrustStatus;
    std::vector<CERT_CHAIN_ELEMENT> rgpElement;
};

struct CERT_CHAIN_CONTEXT {
    CERT_TRUST_STATUS TrustStatus;  // every bit of every element
    std::vector<CERT_SIMPLE_CHAIN> rgpChain;
};
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;

// Only an empty requested usage is supported.
struct CERT_USAGE_MATCH {
    uint32_t dwType = 0;
    uint32_t cUsageIdentifier = 0;
    char** rgpszUsageIdentifier = nullptr;
};
struct CERT_CHAIN_PARA {
    uint32_t cbSize = 16;
    CERT_USAGE_MATCH RequestedUsage;
    // Ours, no Windows field: the deadline of the calling verification,
    // which bounds every download of the chain. NULL: kDefaultChainDeadlineMs
    // from the call.
    const Deadline* pDeadline = nullptr;
};

// Builds the chain of `certificate` at `time` (Unix seconds; NULL: now).
// `engine`, `additionalStore` and `reserved` must be NULL. TRUE with
// *chainContext set (free it with CertFreeCertificateChain) whatever the
// trust status; FALSE (E_INVALIDARG) only for unusable arguments.
bool CertGetCertificateChain(void* engine, PCCERT_CONTEXT certificate, const int64_t* time, HCERTSTORE additionalStore,
                             const CERT_CHAIN_PARA* chainPara, uint32_t flags, void* reserved,
                             PCCERT_CHAIN_CONTEXT* chainContext);

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chainContext);

struct CertChainFreer {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const noexcept { CertFreeCertificateChain(chain); }
};
using UniqueCertChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, CertChainFreer>;

}  // namespace zorbelu::platform
