// Judging a TSA certificate against a core certificate store: validity at
// the current time, the chain to the store's CA certificates (each one a
// trust anchor), and revocation against the store's CRLs.
#ifndef ZORBEL_CORE_CHAIN_CHECK_H
#define ZORBEL_CORE_CHAIN_CHECK_H

#include <openssl/x509.h>

#include <cstdint>

#include "zorbel.h"

namespace zorbel {

// True when the extended key usage is present, critical and names only
// id-kp-timeStamping (RFC 3161, 2.3).
[[nodiscard]] bool HasTimeStampingUsageOnly(X509* certificate);

// The store's CA certificates decoded; false when one cannot be decoded.
[[nodiscard]] bool StoreCertificates(const ZORBELCertStore* store, STACK_OF(X509) * out);

// 1, or the verification code of the first failure (2008, 2010..2015).
// `intermediates` are the token's certificates.
[[nodiscard]] uint32_t CheckTsaCertificate(X509* tsa, STACK_OF(X509) * intermediates, const ZORBELCertStore* store);

}  // namespace zorbel

#endif
