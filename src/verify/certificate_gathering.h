// Certificate gathering: the walk from a certificate's issuer up to a root
// through the system stores "CA" and "ROOT", and the copy of a core
// certificate store into the arrays ZORBELUGetCertificates hands out.
#pragma once

#include <cstddef>
#include <cstdint>

#include <openssl/x509.h>

#include "certs/cert_blob_array.h"
#include "certs/cert_list.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

// The walk takes at most this many certificates from "CA".
inline constexpr size_t kMaxWalkLength = 10;

// How a walk ended; the result code alone says only 1 or 2507.
enum class WalkEnd {
    RootReached,       // 1
    NotFound,          // the wanted name is in neither store
    NameRepeated,      // a name came back: the "CA" certificates name each other in a cycle
    LengthLimit,       // kMaxWalkLength certificates taken from "CA" without reaching "ROOT"
    StoreUnavailable,  // a store could not be opened
    CoreRefused,       // ZORBELAddCACert did not accept a certificate
    Undecodable,       // a store certificate did not decode
};

// From the issuer name of `certificate`: the certificate of "CA" with that
// subject (a self-issued one is passed over: the name is then looked for in
// "ROOT") goes into the core store and at the end of `list`, and its issuer
// is looked for next; the certificate of "ROOT" with it goes into the core
// store and ends the walk with 1. Otherwise 2507; `end` tells why. Where a
// store holds several certificates of the wanted name, the first whose key
// verifies the child's signature is taken (StoreIndex::IssuerWithSubject);
// a single one is taken whatever its key, as the walk goes by names.
[[nodiscard]] uint32_t BuildChainFromSystemStores(ZORBELCertStore* coreStore, CertList& list, X509* certificate,
                                                  WalkEnd* end = nullptr);

// Copies of the core store's CA certificates and CRLs, in list order, into
// two arrays allocated with new[] (each record's bytes also new[]), each
// ended by a record of zeros. An empty CA list gives NULL for both; a store
// without CRLs gives NULL for the CRL array. 1; 1600 for a store whose
// mark is not 16 (outputs untouched); 1005 when memory is short (outputs
// untouched, nothing left allocated).
[[nodiscard]] uint32_t CoreStoreToArrays(const ZORBELCertStore* store, ZORBELUCertBlob** caOut,
                                         ZORBELUCertBlob** crlOut);

}  // namespace zorbelu::certs
