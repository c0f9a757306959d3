// The certificate list: a chain from the TSA certificate up to (not
// including) the root, each certificate with the CRL URL found for it.
#pragma once

#include <openssl/x509.h>

#include <vector>

#include "zorbelutil.h"

namespace zorbelu::certs {

// Owns its certificates and CRL URLs: emptying or destroying the list frees
// them (certificates with X509_free, URLs with free).
class CertList {
public:
    CertList() = default;
    ~CertList() { Clear(); }
    CertList(const CertList&) = delete;
    CertList& operator=(const CertList&) = delete;

    // Takes ownership of `cert` (and of `crlUrl`, a malloc'ed text or NULL).
    void Append(X509* cert, char* crlUrl = nullptr, uint32_t crlPointNo = 0);
    void Clear();

    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    ZORBELUPRVCertInfo& operator[](size_t i) { return items_[i]; }
    const ZORBELUPRVCertInfo& operator[](size_t i) const { return items_[i]; }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<ZORBELUPRVCertInfo> items_;
};

}  // namespace zorbelu::certs
