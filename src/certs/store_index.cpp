#include "certs/store_index.h"

#include "platform/cert_names.h"
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
        indexed.subject = platform::CertNameToStrSimple(X509_get_subject_name(indexed.cert.get()));
        indexed.issuer = platform::CertNameToStrSimple(X509_get_issuer_name(indexed.cert.get()));
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
            firstBySubject_.emplace(*subject, certificates_.size() - 1);  // the first stays
    }
}

const IndexedCertificate* StoreIndex::FirstWithSubject(const std::string& text) const {
    const auto found = firstBySubject_.find(text);
    return found == firstBySubject_.end() ? nullptr : &certificates_[found->second];
}

}  // namespace zorbelu::certs
