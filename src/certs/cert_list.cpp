#include "certs/cert_list.h"

#include <cstdlib>

#include "x509/ossl_ptr.h"

namespace zorbelu::certs {

void CertList::Append(X509* cert, char* crlUrl, uint32_t crlPointNo) {
    try {
        items_.push_back(ZORBELUPRVCertInfo{cert, crlUrl, crlPointNo});
    } catch (...) {
        const X509Ptr refused(cert);  // the list owns what it is given, even when it cannot keep it
        std::free(crlUrl);
        throw;
    }
}

void CertList::Clear() {
    for (ZORBELUPRVCertInfo& item : items_) {
        const X509Ptr owned(item.cert);
        std::free(item.crlUrl);
    }
    items_.clear();
}

}  // namespace zorbelu::certs
