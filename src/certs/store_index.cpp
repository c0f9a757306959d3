#include "certs/store_index.h"

#include <openssl/err.h>

#include "x509/names.h"
#include "platform/stores/bounded_cache.h"
#include "platform/stores/decoded_objects.h"
#include "platform/stores/store_files.h"

namespace zorbelu::certs {
namespace {

stores::BoundedCache<std::string, std::shared_ptr<const StoreIndex>>& Indexes() {
    static stores::BoundedCache<std::string, std::shared_ptr<const StoreIndex>> cache(StoreIndex::kMaxIndexes,
                                                                                     StoreIndex::kMaxIndexes);
    return cache;
}

IndexedCertificate Index(stores::StoreEntry entry) {
    IndexedCertificate indexed;
    indexed.cert.reset(stores::SharedCertificate(entry.der.data(), entry.der.size()));
    if (indexed.cert) {
        indexed.subject = x509::CertNameToStrSimple(X509_get_subject_name(indexed.cert.get()));
        indexed.issuer = x509::CertNameToStrSimple(X509_get_issuer_name(indexed.cert.get()));
    }
    indexed.entry = std::move(entry);
    return indexed;
}

}  // namespace

std::shared_ptr<const StoreIndex> StoreIndex::Current(const char* storeName) {
    const std::optional<stores::SystemStore> store = stores::SystemStore::Open(storeName);
    if (!store) return nullptr;
    std::shared_ptr<const stores::index::FolderView> view = store->View();
    std::shared_ptr<const stores::StoreContents> readOnly = store->ReadOnlyContents();
    const std::string key = store->Folder().string();
    // A view whose stamps were not settled may hide a change: index afresh.
    if (view->settled)
        if (const auto kept = Indexes().Find(key); kept && (*kept)->Shows(view.get(), readOnly.get())) return *kept;
    auto index = std::make_shared<const StoreIndex>(std::move(view), std::move(readOnly));
    Indexes().Put(key, index, 1);
    return index;
}

StoreIndex::StoreIndex(std::shared_ptr<const stores::index::FolderView> view,
                       std::shared_ptr<const stores::StoreContents> readOnly)
    : view_(std::move(view)), readOnly_(std::move(readOnly)) {
    readOnlyCertificates_.reserve(readOnly_->entries.size());
    for (const stores::StoreEntry& entry : readOnly_->entries) {
        readOnlyCertificates_.push_back(Index(entry));
        if (const auto& subject = readOnlyCertificates_.back().subject)
            readOnlyBySubject_[*subject].push_back(readOnlyCertificates_.size() - 1);
    }
}

const StoreIndex::Matches* StoreIndex::WithSubject(const std::string& text) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (const auto kept = found_.find(text); kept != found_.end()) return &kept->second;
    Matches matches;
    // The folder's files first, in name order: those the view names for the
    // subject, each decoded and its subject compared.
    for (const size_t position : view_->FilesWithKey(stores::index::KeyOfSubject(text))) {
        const std::filesystem::path file = view_->PathOf(position);
        for (stores::DerCertificate& der : stores::files::FileCertificates(file, stores::files::kMaxCertificateFile)) {
            IndexedCertificate indexed = Index({std::move(der), file, false});
            if (indexed.subject != text) continue;
            folderCertificates_.push_back(std::move(indexed));
            matches.push_back(&folderCertificates_.back());
        }
    }
    if (const auto shown = readOnlyBySubject_.find(text); shown != readOnlyBySubject_.end())
        for (const size_t position : shown->second) matches.push_back(&readOnlyCertificates_[position]);
    if (matches.empty()) return nullptr;
    return &found_.emplace(text, std::move(matches)).first->second;
}

const IndexedCertificate* StoreIndex::FirstWithSubject(const std::string& text) const {
    const Matches* matches = WithSubject(text);
    return matches == nullptr ? nullptr : matches->front();
}

const IndexedCertificate* StoreIndex::IssuerWithSubject(const std::string& text, X509* child) const {
    const Matches* matches = WithSubject(text);
    if (matches == nullptr) return nullptr;
    if (matches->size() > 1 && child != nullptr) {
        ERR_set_mark();  // a key that does not fit leaves errors; the caller's queue stays as it was
        for (const IndexedCertificate* candidate : *matches) {
            EVP_PKEY* key = X509_get0_pubkey(candidate->cert.get());
            if (key != nullptr && X509_verify(child, key) == 1) {
                ERR_pop_to_mark();
                return candidate;
            }
        }
        ERR_pop_to_mark();
    }
    return matches->front();
}

}  // namespace zorbelu::certs
