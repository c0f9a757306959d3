#include "platform/stores/decoded_objects.h"

#include <openssl/x509v3.h>

#include <climits>
#include <memory>

#include "platform/stores/bounded_cache.h"
#include "platform/stores/content_digest.h"

namespace zorbelu::stores {
namespace {

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
template <typename T, T* (*D2i)(T**, const unsigned char**, long), void (*Free)(T*), int (*UpRef)(T*)>
T* Lookup(Cache<T>& cache, const uint8_t* der, size_t size) {
    if (der == nullptr || size == 0 || size > static_cast<size_t>(LONG_MAX)) return nullptr;
    const ContentDigest digest = DigestOf(der, size);
    std::optional<Shared<T>> kept = cache.Find(digest);
    if (!kept) {
        const unsigned char* p = der;
        T* decoded = D2i(nullptr, &p, static_cast<long>(size));
        if (decoded != nullptr && p != der + size) {
            Free(decoded);
            decoded = nullptr;
        }
        if (decoded == nullptr) return nullptr;
        CacheExtensions(decoded);
        kept = cache.Insert(digest, Shared<T>(decoded, Free), size);
    }
    return UpRef(kept->get()) == 1 ? kept->get() : nullptr;
}

}  // namespace

X509* SharedCertificate(const uint8_t* der, size_t size) {
    return Lookup<X509, d2i_X509, X509_free, X509_up_ref>(Certificates(), der, size);
}

X509_CRL* SharedCrl(const uint8_t* der, size_t size) {
    return Lookup<X509_CRL, d2i_X509_CRL, X509_CRL_free, X509_CRL_up_ref>(Crls(), der, size);
}

}  // namespace zorbelu::stores
