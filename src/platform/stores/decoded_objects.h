// Certificates and CRLs decoded once per process and shared. OpenSSL 3
// decodes a certificate's public key through its provider decoders whenever
// it parses a certificate, which costs more than checking two signatures;
// yet every verification meets the same few certificates again (those of the
// stores, a TSA's own in each of its tokens) and the same CRLs.
//
// An entry is found by the SHA-256 of the bytes it was decoded from: equal
// bytes decode to an equal object, so no change anywhere can make an entry
// wrong; entries are dropped only for room. Only bytes that are exactly one
// whole DER object are remembered; callers decode anything else as before.
//
// The objects handed out are shared between threads and callers: read them,
// never change them.
#ifndef ZORBELU_PLATFORM_STORES_DECODED_OBJECTS_H
#define ZORBELU_PLATFORM_STORES_DECODED_OBJECTS_H

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>

namespace zorbelu::stores {

// Bounds of each of the two caches: the least recently used go first.
inline constexpr size_t kMaxDecodedCertificates = 1024;
inline constexpr size_t kMaxDecodedCertificateBytes = 16u << 20;  // DER bytes
inline constexpr size_t kMaxDecodedCrls = 64;
inline constexpr size_t kMaxDecodedCrlBytes = 32u << 20;  // DER bytes

// A new reference to the certificate `der` decodes to (X509_free it), or NULL
// when the bytes are not exactly one DER certificate.
X509* SharedCertificate(const uint8_t* der, size_t size);

// The same for a CRL (X509_CRL_free it).
X509_CRL* SharedCrl(const uint8_t* der, size_t size);

}  // namespace zorbelu::stores

#endif
