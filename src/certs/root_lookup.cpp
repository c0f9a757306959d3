#include "certs/root_lookup.h"

#include "certs/names.h"
#include "certs/store_index.h"

namespace zorbelu::certs {

std::optional<std::vector<uint8_t>> FindCertificateBySubject(const char* storeName, const uint8_t* name,
                                                             size_t nameLength) {
    const std::shared_ptr<const StoreIndex> store = StoreIndex::Current(storeName);
    const auto wanted = NameText(name, nameLength);
    if (!store || !wanted) return std::nullopt;
    const IndexedCertificate* found = store->FirstWithSubject(*wanted);
    if (found == nullptr) return std::nullopt;
    return found->entry.der;
}

}  // namespace zorbelu::certs
