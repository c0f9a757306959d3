// The hash algorithm codes of the interface (1 SHA-1, 2 MD5, 3 SHA-256,
// 4 SHA-384, 5 SHA-512) and their digests and identifiers.
#ifndef ZORBEL_CORE_DIGEST_ALGORITHMS_H
#define ZORBEL_CORE_DIGEST_ALGORITHMS_H

#include <openssl/evp.h>

#include <cstdint>

namespace zorbel {

// NULL for an unknown code.
const EVP_MD* DigestForCode(uint32_t code);

// The length a digest of this algorithm (dotted OID) has, 0 for an
// algorithm the creation calls do not offer.
size_t DigestLengthForOid(const char* oid);

// The digest of this OID fetched once per process (thread-safe), so that a
// verification does not look the algorithm up in the provider on every
// call: SHA-1, SHA-224, SHA-256, SHA-384, SHA-512; otherwise what OpenSSL
// finds by the OID (NULL when nothing).
const EVP_MD* DigestForOid(const ASN1_OBJECT* oid);

}  // namespace zorbel

#endif
