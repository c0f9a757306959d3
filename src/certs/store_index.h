// The certificates of a system store found by the simple text of their
// subject (x509/names.h), as chain walks and root look-ups compare names.
// One index per look at a store (its folder's view and read-only contents),
// shared: a walk reads and decodes only the files the folder's view names
// for the wanted subject (platform/stores/folder_index.h), once for as long
// as the store stays as it is. Every certificate answered was decoded from
// its file and its subject compared here: the view only says where to look.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "x509/ossl_ptr.h"
#include "platform/stores/folder_index.h"
#include "platform/stores/system_store.h"

namespace zorbelu::certs {

// One certificate of the store, decoded, with the simple texts of its names.
struct IndexedCertificate {
    stores::StoreEntry entry;
    X509Ptr cert;  // shared: read, never change
    std::optional<std::string> subject;
    std::optional<std::string> issuer;
    // Subject and issuer read the same (NamesEqual of the two).
    bool SelfIssued() const { return subject && issuer && *subject == *issuer; }
};

class StoreIndex {
public:
    // Indexes kept at once, one per store.
    static constexpr size_t kMaxIndexes = 16;

    // The system store `storeName` ("ROOT" or "CA") as it is now, indexed;
    // NULL for another name.
    static std::shared_ptr<const StoreIndex> Current(const char* storeName);

    StoreIndex(std::shared_ptr<const stores::index::FolderView> view,
               std::shared_ptr<const stores::StoreContents> readOnly);

    // The first certificate in store order whose subject reads as `text`;
    // NULL when none does.
    const IndexedCertificate* FirstWithSubject(const std::string& text) const;

    // The issuer of `child` among the certificates whose subject reads as
    // `text`: the only one, whatever its key; among several, the first in
    // store order whose key verifies the child's signature, or the first
    // when none does. So a look-alike (the name, another key) that comes
    // first cannot stand in for the certificate that signed the child, and
    // a store without duplicates costs no signature check. NULL when no
    // certificate has the subject.
    const IndexedCertificate* IssuerWithSubject(const std::string& text, X509* child) const;

    bool Shows(const stores::index::FolderView* view, const stores::StoreContents* readOnly) const {
        return view_.get() == view && readOnly_.get() == readOnly;
    }

private:
    using Matches = std::vector<const IndexedCertificate*>;
    // The certificates whose subject reads as `text`, in store order; NULL
    // when there are none. Found once per text and remembered (only texts
    // found: at most one per certificate of the store).
    const Matches* WithSubject(const std::string& text) const;

    std::shared_ptr<const stores::index::FolderView> view_;
    std::shared_ptr<const stores::StoreContents> readOnly_;
    std::vector<IndexedCertificate> readOnlyCertificates_;
    std::unordered_map<std::string, std::vector<size_t>> readOnlyBySubject_;

    mutable std::mutex mutex_;
    mutable std::deque<IndexedCertificate> folderCertificates_;  // stable addresses
    mutable std::unordered_map<std::string, Matches> found_;
};

}  // namespace zorbelu::certs
