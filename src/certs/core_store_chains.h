// Chains and CRLs out of a caller's core certificate store, for the token
// properties dialog: the CA chain above a certificate, and the CRLs of that
// chain's issuers. The arrays are CertBlobArray arrays (certs/cert_blob_array.h).
#pragma once

#include <cstdint>

#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

// The chain above `cert` out of the store's CA list, from its issuer up to a
// self-signed certificate, each list position taken at most once. 1 and the
// array for a complete chain; else `*out` stays NULL and the result is 1600
// (store NULL or not marked 16), 1700 (cert NULL), 1601 (cert undecodable or
// its issuer unreadable) or 1605 (no complete chain).
[[nodiscard]] uint32_t BuildCAChainForCert(const ZORBELCertStore* store, const ZORBELUCertBlob* cert,
                                           ZORBELUCertBlob** out);

// The first CRL of `store` whose issuer is the issuer of `cert`, added to
// `scratch`. 1 when ZORBELAddCRL accepted it; 1600 (a store NULL), 1601
// (cert undecodable or its names unreadable), 1605 (self-signed cert, no
// such CRL, or the CRL refused).
[[nodiscard]] uint32_t AddCRLOfIssuer(const ZORBELUCertBlob* cert, const ZORBELCertStore* store,
                                      ZORBELCertStore* scratch);

// The CRL of the issuer of `cert`, then one for each element of `caArray`
// (may be NULL) up to the first without one. 1 and the array; else `*out`
// stays NULL and the result is 1600, 1700, 1005 (no scratch store) or what
// AddCRLOfIssuer gave for `cert` itself.
[[nodiscard]] uint32_t CollectCRLsForChain(const ZORBELCertStore* store, const ZORBELUCertBlob* cert,
                                           const ZORBELUCertBlob* caArray, ZORBELUCertBlob** out);

}  // namespace zorbelu::certs
