// The certificates of a system store found by the simple text of their
// subject (x509/names.h), as chain walks and root look-ups compare
// names. Built once for each contents of a store and shared, so that a walk
// neither reads nor decodes anything while the store stays as it is.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "x509/ossl_ptr.h"
#include "platform/stores/system_store.h"

namespace zorbelu::certs {

// One certificate of the store, decoded, with the simple texts of its names.
struct IndexedCertificate {
    const stores::StoreEntry* entry = nullptr;  // belongs to the index
    X509Ptr cert;                                // shared: read, never change
    std::optional<std::string> subject;
    std::optional<std::string> issuer;
    // Subject and issuer read the same (NamesEqual of the two).
    bool SelfIssued() const { return subject && issuer && *subject == *issuer; }
};

class StoreIndex {
public:
    // Indexes kept at once; each holds the decoded certificates of one
    // contents of one store.
    static constexpr size_t kMaxIndexes = 16;

    // The system store `storeName` ("ROOT" or "CA") as it is now, indexed;
    // NULL for another name.
    static std::shared_ptr<const StoreIndex> Current(const char* storeName);

    explicit StoreIndex(std::shared_ptr<const stores::StoreContents> contents);

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

private:
    std::shared_ptr<const stores::StoreContents> contents_;
    std::vector<IndexedCertificate> certificates_;
    // Positions of the certificates of each subject, in store order.
    std::unordered_map<std::string, std::vector<size_t>> bySubject_;
};

}  // namespace zorbelu::certs
