#include "certs/cert_list.h"

#include <openssl/x509.h>

#include <cstdlib>

namespace zorbelu::certs {

void CertList::Append(X509* cert, char* crlUrl, uint32_t crlPointNo) {
    try {
        items_.push_back(ZORBELUPRVCertInfo{cert, crlUrl, crlPointNo});
    } catch (...) {
        X509_free(cert);  // the list owns what it is given, even when it cannot keep it
        std::free(crlUrl);
        throw;
    }
}

void CertList::Clear() {
    for (ZORBELUPRVCertInfo& item : items_) {
        X509_free(item.cert);
        std::free(item.crlUrl);
    }
    items_.clear();
}

}  // namespace zorbelu::certs
