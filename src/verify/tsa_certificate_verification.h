// Three verdicts on a TSA certificate: validity period, revocation, chain.
#pragma once

#include <openssl/x509.h>

#include <cstdint>

#include "zorbelutil.h"

namespace zorbelu::certs {

// True when notBefore <= t < notAfter (t <= 0: now). Otherwise
// `reference` is notAfter minus one second, the last moment of validity,
// at which an expired certificate's chain is still judged; else 0.
bool CheckCertValidityAt(X509* cert, int64_t t, int64_t* reference);

// Runs OpenSSL's chain and revocation checks with the core store's CA
// certificates and CRLs and records the verdicts still undecided. 1; 1005;
// 1600; 1601.
[[nodiscard]] uint32_t VerifyWithX509Store(const ZORBELUCertBlob* cert, const ZORBELCertStore* store,
                                           ZORBELUTSACertResult* result, int64_t checkTime, int64_t chainTime);

}  // namespace zorbelu::certs
