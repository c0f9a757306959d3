#include "platform/stores/decoded_objects.h"

#include <openssl/x509v3.h>

#include <climits>
#include <memory>
#include <new>

#include "platform/stores/bounded_cache.h"
#include "platform/stores/content_digest.h"
#include "x509/decoding.h"

// libzorbel's caches, lent to the rest of the process (core/zorbel_private.h);
// weak, so that these are NULL in a program that does not load libzorbel.
extern "C" {
__attribute__((weak, visibility("default"))) uint32_t ZORBELPRVSharedCertificate(const uint8_t* der, size_t size,
                                                                                X509** out);
__attribute__((weak, visibility("default"))) uint32_t ZORBELPRVSharedCrl(const uint8_t* der, size_t size,
                                                                        X509_CRL** out);
}

namespace zorbelu::stores {
namespace {

// What the two lend on success (ZORBEL_OK); anything else is out of memory.
constexpr uint32_t kLent = 1;

template <typename T>
using Shared = std::shared_ptr<T>;

template <typename T>
using Cache = BoundedCache<ContentDigest, Shared<T>, ContentDigestHash>;

Cache<X509>& Certificates() {
    static Cache<X509> cache(kMaxDecodedCertificates, kMaxDecodedCertificateBytes);
    return cache;
}

Cache<X509_CRL>& Crls() {
    static Cache<X509_CRL> cache(kMaxDecodedCrls, kMaxDecodedCrlBytes);
    return cache;
}

// A shared object is only read. OpenSSL fills a certificate's extension
// cache (key identifiers, purposes, its hash) at first use, writing into the
// object while another thread may read it; filled before the object is
// shared, it is never written again.
void CacheExtensions(X509* certificate) { X509_check_purpose(certificate, -1, 0); }
void CacheExtensions(X509_CRL*) {}  // decoding fills a CRL's

// Decodes outside the cache's lock: a decode takes long, and two threads
// decoding the same bytes at once only waste the time of one.
template <typename T, typename Ptr, Ptr (*Decode)(const uint8_t**, size_t), int (*UpRef)(T*)>
T* Lookup(Cache<T>& cache, const uint8_t* der, size_t size) {
    if (der == nullptr || size == 0 || size > static_cast<size_t>(LONG_MAX)) return nullptr;
    const ContentDigest digest = DigestOf(der, size);
    std::optional<Shared<T>> kept = cache.Find(digest);
    if (!kept) {
        const uint8_t* p = der;
        Ptr decoded = Decode(&p, size);
        if (!decoded || p != der + size) return nullptr;
        CacheExtensions(decoded.get());
        kept = cache.Insert(digest, Shared<T>(std::move(decoded)), size);
    }
    return UpRef(kept->get()) == 1 ? kept->get() : nullptr;
}

BoundedCache<ContentDigest, std::shared_ptr<const CompactCrlParts>, ContentDigestHash>& CompactCrls() {
    static BoundedCache<ContentDigest, std::shared_ptr<const CompactCrlParts>, ContentDigestHash> cache(
        kMaxCompactCrls, kMaxCompactCrlHeapBytes);
    return cache;
}

template <typename Ptr, typename T, T* (*Decode)(T**, const unsigned char**, long)>
bool DecodeSpan(zorbel::der::Span span, Ptr& out) {
    if (span.size == 0) return true;
    const unsigned char* p = span.data;
    out.reset(Decode(nullptr, &p, static_cast<long>(span.size)));
    return out && p == span.data + span.size;
}

std::shared_ptr<const CompactCrlParts> ReadCompactCrl(const uint8_t* der, size_t size) {
    std::optional<x509::CompactCrl> crl = x509::CompactCrl::Parse(der, size);
    if (!crl) return nullptr;
    auto parts = std::make_shared<CompactCrlParts>(CompactCrlParts{std::move(*crl), {}, {}, {}, {}});
    const x509::CompactCrl& c = parts->crl;
    const uint8_t* issuer = c.IssuerDer().data;
    parts->issuer = x509::DecodeDerNameAt(&issuer, c.IssuerDer().size);
    if (!parts->issuer || issuer != c.IssuerDer().data + c.IssuerDer().size ||
        !DecodeSpan<Asn1TimePtr, ASN1_TIME, d2i_ASN1_TIME>(c.ThisUpdate(), parts->thisUpdate) ||
        !DecodeSpan<Asn1TimePtr, ASN1_TIME, d2i_ASN1_TIME>(c.NextUpdate(), parts->nextUpdate) ||
        !DecodeSpan<OsslPtr<AUTHORITY_KEYID, AUTHORITY_KEYID_free>, AUTHORITY_KEYID, d2i_AUTHORITY_KEYID>(
            c.AuthorityKeyId(), parts->authorityKeyId))
        return nullptr;
    return parts;
}

}  // namespace

std::shared_ptr<const CompactCrlParts> SharedCompactCrl(const ContentDigest& digest, const uint8_t* der,
                                                        size_t size) {
    if (std::optional<std::shared_ptr<const CompactCrlParts>> kept = CompactCrls().Find(digest)) return *kept;
    std::shared_ptr<const CompactCrlParts> parts = ReadCompactCrl(der, size);
    if (!parts) return nullptr;
    return CompactCrls().Insert(digest, parts, parts->HeapBytes());
}

X509* OwnCachedCertificate(const uint8_t* der, size_t size) {
    return Lookup<X509, X509Ptr, x509::DecodeDerCertificateAt, X509_up_ref>(Certificates(), der, size);
}

X509_CRL* OwnCachedCrl(const uint8_t* der, size_t size) {
    return Lookup<X509_CRL, X509CrlPtr, x509::DecodeDerCrlAt, X509_CRL_up_ref>(Crls(), der, size);
}

X509* SharedCertificate(const uint8_t* der, size_t size) {
    if (ZORBELPRVSharedCertificate == nullptr) return OwnCachedCertificate(der, size);
    X509* certificate = nullptr;
    if (ZORBELPRVSharedCertificate(der, size, &certificate) != kLent) throw std::bad_alloc();
    return certificate;
}

X509_CRL* SharedCrl(const uint8_t* der, size_t size) {
    if (ZORBELPRVSharedCrl == nullptr) return OwnCachedCrl(der, size);
    X509_CRL* crl = nullptr;
    if (ZORBELPRVSharedCrl(der, size, &crl) != kLent) throw std::bad_alloc();
    return crl;
}

}  // namespace zorbelu::stores
