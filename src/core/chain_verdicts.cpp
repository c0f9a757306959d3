#include "core/chain_verdicts.h"

#include <openssl/evp.h>

#include <limits>
#include <new>

#include "core/node_digests.h"
#include "platform/stores/bounded_cache.h"

namespace zorbel {

namespace {

using zorbelu::stores::BoundedCache;
using zorbelu::stores::ContentDigestHash;
using zorbelu::stores::DigestBuilder;

// [from, until): the times at which every input is within its validity.
struct Window {
    time_t from = std::numeric_limits<time_t>::min();
    time_t until = std::numeric_limits<time_t>::max();
    bool readable = true;  // every date could be read

    void NotBefore(const ASN1_TIME* time) { Narrow(time, true); }
    void NotAfter(const ASN1_TIME* time) { Narrow(time, false); }
    bool Holds(time_t t) const { return readable && from <= t && t < until; }

private:
    // One second off each end: dates with fractions of a second compare
    // to the second in OpenSSL, never to the fraction.
    void Narrow(const ASN1_TIME* time, bool start) {
        struct tm broken {};
        if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1) {
            readable = false;
            return;
        }
        const time_t t = timegm(&broken);
        if (start && t + 1 > from) from = t + 1;
        if (!start && t - 1 < until) until = t - 1;
    }
};

struct Verdict {
    uint32_t result;
    Window window;
};

BoundedCache<ChainKey, Verdict, ContentDigestHash>& Verdicts() {
    static BoundedCache<ChainKey, Verdict, ContentDigestHash> cache(kMaxChainVerdicts, kMaxChainVerdicts);
    return cache;
}

void AddCertificate(DigestBuilder& key, X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) throw std::bad_alloc();
    key.Add(digest, length);
}

void AddNodes(DigestBuilder& key, const ZORBELCertNode* node) {
    uint64_t count = 0;
    for (; node != nullptr; node = node->next, ++count) {
        key.Add(node->encoding);
        key.Add(NodeDigest(node));
    }
    key.Add(count);  // ends the list: no two lists give the same series
}

void NarrowToCertificate(Window& window, const X509* certificate) {
    window.NotBefore(X509_get0_notBefore(certificate));
    window.NotAfter(X509_get0_notAfter(certificate));
}

void NarrowToCrl(Window& window, const X509_CRL* crl) {
    window.NotBefore(X509_CRL_get0_lastUpdate(crl));
    // Without nextUpdate OpenSSL never finds a CRL expired.
    if (const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl)) window.NotAfter(next);
}

Window WindowOf(X509* tsa, STACK_OF(X509) * intermediates, X509_STORE* trusted, const CrlTimes& crlTimes) {
    Window window;
    for (const auto& [thisUpdate, nextUpdate] : crlTimes) {
        window.NotBefore(thisUpdate);
        if (nextUpdate != nullptr) window.NotAfter(nextUpdate);
    }
    NarrowToCertificate(window, tsa);
    for (int i = 0; i < sk_X509_num(intermediates); ++i) NarrowToCertificate(window, sk_X509_value(intermediates, i));
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(trusted);
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        X509_OBJECT* object = sk_X509_OBJECT_value(objects, i);
        if (X509* certificate = X509_OBJECT_get0_X509(object)) NarrowToCertificate(window, certificate);
        if (X509_CRL* crl = X509_OBJECT_get0_X509_CRL(object)) NarrowToCrl(window, crl);
    }
    return window;
}

}  // namespace

ChainKey KeyOfChainCheck(X509* tsa, STACK_OF(X509) * intermediates, const ZORBELCertStore* store) {
    DigestBuilder key;
    AddCertificate(key, tsa);
    for (int i = 0; i < sk_X509_num(intermediates); ++i) AddCertificate(key, sk_X509_value(intermediates, i));
    key.Add(static_cast<uint64_t>(sk_X509_num(intermediates)));
    AddNodes(key, store->caCerts);
    AddNodes(key, store->crls);
    return key.Finish();
}

std::optional<uint32_t> RememberedChainVerdict(const ChainKey& key, time_t now) {
    const std::optional<Verdict> verdict = Verdicts().Find(key);
    if (!verdict || !verdict->window.Holds(now)) return std::nullopt;
    return verdict->result;
}

void RememberChainVerdict(const ChainKey& key, uint32_t verdict, time_t now, X509* tsa,
                          STACK_OF(X509) * intermediates, X509_STORE* trusted, const CrlTimes& crlTimes) {
    const Window window = WindowOf(tsa, intermediates, trusted, crlTimes);
    if (window.Holds(now)) Verdicts().Put(key, Verdict{verdict, window}, 1);
}

}  // namespace zorbel
