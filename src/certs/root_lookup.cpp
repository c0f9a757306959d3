#include "certs/root_lookup.h"

#include "certs/names.h"
#include "platform/cert_names.h"
#include "platform/stores/system_store.h"

namespace zorbelu::certs {

std::optional<std::vector<uint8_t>> FindCertificateBySubject(const char* storeName, const uint8_t* name,
                                                             size_t nameLength) {
    const auto store = stores::SystemStore::Open(storeName);
    const auto wanted = platform::CertNameToStrSimple(name, nameLength);
    if (!store || !wanted) return std::nullopt;
    for (stores::DerCertificate& der : store->Certificates())
        if (SubjectTextOf(der.data(), der.size()) == wanted) return std::move(der);
    return std::nullopt;
}

}  // namespace zorbelu::certs
