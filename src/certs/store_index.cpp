#include "certs/store_index.h"

#include <openssl/err.h>

#include "x509/names.h"
#include "platform/stores/bounded_cache.h"
#include "platform/stores/decoded_objects.h"

namespace zorbelu::certs {
namespace {

using ContentsKey = const stores::StoreContents*;

// Keyed by the contents object, which the index keeps alive: a key cannot
// come back for other contents while its index is remembered.
stores::BoundedCache<ContentsKey, std::shared_ptr<const StoreIndex>>& Indexes() {
    static stores::BoundedCache<ContentsKey, std::shared_ptr<const StoreIndex>> cache(StoreIndex::kMaxIndexes,
                                                                                     StoreIndex::kMaxIndexes);
    return cache;
}

IndexedCertificate Index(const stores::StoreEntry& entry) {
    IndexedCertificate indexed;
    indexed.entry = &entry;
    indexed.cert.reset(stores::SharedCertificate(entry.der.data(), entry.der.size()));
    if (indexed.cert) {
        indexed.subject = x509::CertNameToStrSimple(X509_get_subject_name(indexed.cert.get()));
        indexed.issuer = x509::CertNameToStrSimple(X509_get_issuer_name(indexed.cert.get()));
    }
    return indexed;
}

}  // namespace

std::shared_ptr<const StoreIndex> StoreIndex::Current(const char* storeName) {
    const std::optional<stores::SystemStore> store = stores::SystemStore::Open(storeName);
    if (!store) return nullptr;
    std::shared_ptr<const stores::StoreContents> contents = store->Contents();
    if (std::optional<std::shared_ptr<const StoreIndex>> kept = Indexes().Find(contents.get())) return *kept;
    const ContentsKey key = contents.get();
    return Indexes().Insert(key, std::make_shared<const StoreIndex>(std::move(contents)), 1);
}

StoreIndex::StoreIndex(std::shared_ptr<const stores::StoreContents> contents) : contents_(std::move(contents)) {
    certificates_.reserve(contents_->entries.size());
    for (const stores::StoreEntry& entry : contents_->entries) {
        certificates_.push_back(Index(entry));
        if (const auto& subject = certificates_.back().subject)
            bySubject_[*subject].push_back(certificates_.size() - 1);
    }
}

const IndexedCertificate* StoreIndex::FirstWithSubject(const std::string& text) const {
    const auto found = bySubject_.find(text);
    return found == bySubject_.end() ? nullptr : &certificates_[found->second.front()];
}

const IndexedCertificate* StoreIndex::IssuerWithSubject(const std::string& text, X509* child) const {
    const auto found = bySubject_.find(text);
    if (found == bySubject_.end()) return nullptr;
    const std::vector<size_t>& positions = found->second;
    if (positions.size() > 1 && child != nullptr) {
        ERR_set_mark();  // a key that does not fit leaves errors; the caller's queue stays as it was
        for (const size_t position : positions) {
            EVP_PKEY* key = X509_get0_pubkey(certificates_[position].cert.get());
            if (key != nullptr && X509_verify(child, key) == 1) {
                ERR_pop_to_mark();
                return &certificates_[position];
            }
        }
        ERR_pop_to_mark();
    }
    return &certificates_[positions.front()];
}

}  // namespace zorbelu::certs
