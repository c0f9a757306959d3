#include "certs/root_lookup.h"

#include <openssl/x509.h>

#include "certs/names.h"
#include "certs/openssl_ptr.h"
#include "platform/stores/system_store.h"

namespace zorbelu::certs {

std::optional<std::vector<uint8_t>> FindCertificateBySubject(const char* storeName, const uint8_t* name,
                                                             size_t nameLength) {
    const auto store = stores::SystemStore::Open(storeName);
    if (!store) return std::nullopt;
    for (stores::DerCertificate& der : store->Certificates()) {
        const unsigned char* p = der.data();
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
        if (!cert) continue;
        const unsigned char* subject = nullptr;
        size_t subjectLength = 0;
        if (X509_NAME_get0_der(X509_get_subject_name(cert.get()), &subject, &subjectLength) != 1) continue;
        if (NamesEqual(subject, subjectLength, name, nameLength)) return std::move(der);
    }
    return std::nullopt;
}

}  // namespace zorbelu::certs
