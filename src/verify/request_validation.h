// The rules every verification applies to its arguments before any work.
// Each returns ZORBELU_OK or the code of the first rule broken; none
// changes anything.
#pragma once

#include <cstdint>

#include "zorbelutil.h"

namespace zorbelu::verify {

// The token: a record with data and a non-zero length.
[[nodiscard]] uint32_t ValidateToken(const ZORBELUBlob* token);

// A digest record: a known algorithm (SHA-1, MD5, SHA-256; the Ex form also
// SHA-384 and SHA-512) with the digest length of that algorithm.
[[nodiscard]] uint32_t ValidateDigest(const ZORBELUDigestInfo* digest);
[[nodiscard]] uint32_t ValidateDigest(const ZORBELUDigestInfoEx* digest);

// The digest the token should cover and, when given, the digest of the
// current document: both valid, same algorithm, same length.
[[nodiscard]] uint32_t ValidateDigestPair(const ZORBELUDigestInfo* digest, const ZORBELUDigestInfo* currentDigest);
[[nodiscard]] uint32_t ValidateDigestPair(const ZORBELUDigestInfoEx* digest,
                                          const ZORBELUDigestInfoEx* currentDigest);

// The caller's CRL buffer, when given.
[[nodiscard]] uint32_t ValidateCrlBuffer(const ZORBELUCRLBuffer* crlBuffer);

// The connection settings, when given.
[[nodiscard]] uint32_t ValidateProxyInfo(const ZORBELUProxyInfo* proxy);

// The expected digest length of an algorithm identifier; 0 when the
// identifier is not one the record form accepts.
[[nodiscard]] uint32_t DigestLengthOf(const char* algorithmOid, bool extendedForm);

}  // namespace zorbelu::verify
