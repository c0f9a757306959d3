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
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/stores/content_digest.h"
#include "x509/compact_crl.h"
#include "x509/ossl_ptr.h"

namespace zorbelu::stores {

// Bounds of each of the two caches: the least recently used go first.
inline constexpr size_t kMaxDecodedCertificates = 1024;
inline constexpr size_t kMaxDecodedCertificateBytes = 16u << 20;  // DER bytes
inline constexpr size_t kMaxDecodedCrls = 64;
inline constexpr size_t kMaxDecodedCrlBytes = 32u << 20;  // DER bytes
inline constexpr size_t kMaxCompactCrls = 64;
inline constexpr size_t kMaxCompactCrlHeapBytes = 96u << 20;  // a 64 MB CRL read compactly fits

// A new reference to the certificate `der` decodes to (X509_free it), or NULL
// when the bytes are not exactly one DER certificate.
X509* SharedCertificate(const uint8_t* der, size_t size);

// The same for a CRL (X509_CRL_free it).
X509_CRL* SharedCrl(const uint8_t* der, size_t size);

// The two above answer from libzorbel's caches wherever libzorbel is loaded
// (every library and program of ours loads it), so that each copy of this
// code linked into another library or program does not decode the same
// bytes again; libzorbel lends them through ZORBELPRVSharedCertificate and
// ZORBELPRVSharedCrl (core/zorbel_private.h), which answer from these: this
// copy's own caches.
X509* OwnCachedCertificate(const uint8_t* der, size_t size);
X509_CRL* OwnCachedCrl(const uint8_t* der, size_t size);

// A CRL read compactly, with the few small parts a revocation check
// decodes with OpenSSL.
struct CompactCrlParts {
    x509::CompactCrl crl;
    X509NamePtr issuer;
    Asn1TimePtr thisUpdate;
    Asn1TimePtr nextUpdate;  // NULL when the CRL has none
    OsslPtr<AUTHORITY_KEYID, AUTHORITY_KEYID_free> authorityKeyId;  // NULL when absent
    // Heap bytes held, the CRL's own and an estimate for the small parts.
    size_t HeapBytes() const { return crl.HeapBytes() + 1024; }
};

// The compact form of the DER CRL `der`, whose SHA-256 is `digest`; NULL
// when the bytes are not one CRL the compact reader takes.
std::shared_ptr<const CompactCrlParts> SharedCompactCrl(const ContentDigest& digest, const uint8_t* der,
                                                        size_t size);

}  // namespace zorbelu::stores

#endif
