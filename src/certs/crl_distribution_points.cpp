#include "certs/crl_distribution_points.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "certs/certificate_decoding.h"
#include "x509/urls.h"
#include "frame/module_state.h"

namespace zorbelu::certs {
namespace {

constexpr uint32_t kResultEmptyList = 1000;

}  // namespace

uint32_t GetFirstCrlUrl(X509* cert, char** url, uint32_t* pointNo) {
    const std::optional<x509::CrlUrl> first = x509::FirstCrlUrl(cert);
    if (!first) return ZORBELU_VS_REVOCATION_UNKNOWN;
    char* copy = static_cast<char*>(std::calloc(first->url.size() + 1, 1));
    if (copy == nullptr) return ZORBELU_ERR_MEMORY;
    std::memcpy(copy, first->url.data(), first->url.size());
    *url = copy;
    *pointNo = first->pointNo;
    return ZORBELU_OK;
}

uint32_t FillCrlUrlsOfList(CertList& list) {
    if (list.empty()) return kResultEmptyList;
    for (ZORBELUPRVCertInfo& item : list) {
        std::free(item.crlUrl);
        item.crlUrl = nullptr;
        item.crlPointNo = 0;
    }
    for (ZORBELUPRVCertInfo& item : list) {
        const uint32_t result = GetFirstCrlUrl(item.cert, &item.crlUrl, &item.crlPointNo);
        if (result != ZORBELU_OK) return result;
    }
    return ZORBELU_OK;
}

}  // namespace zorbelu::certs

namespace {

uint32_t GetCdp(const ZORBELUCertBlob* cert, char* buffer, int32_t* capacity) {
    using namespace zorbelu::certs;
    if (cert == nullptr || buffer == nullptr || capacity == nullptr || cert->data == nullptr || cert->length == 0)
        return ZORBELU_ERR_PARAM;
    if (cert->encoding < ZORBELU_ENCODING_DETECT || cert->encoding > ZORBELU_ENCODING_PEM)
        return ZORBELU_ERR_CRL_ENCODING;
    if (*capacity < 1) return ZORBELU_ERR_BUFFER_TOO_SMALL;
    const zorbelu::X509Ptr x509(DecodeCertificate(cert->data, static_cast<int32_t>(cert->length), cert->encoding));
    if (!x509) return ZORBELU_VS_CERT_INVALID;
    const std::optional<zorbelu::x509::CrlUrl> first = zorbelu::x509::FirstCrlUrl(x509.get(), true);
    if (!first) return ZORBELU_ERR_NOT_FOUND;
    const std::string& uri = first->url;
    if (uri.size() > static_cast<size_t>(*capacity)) return ZORBELU_ERR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, uri.data(), uri.size());  // the caller gets the length, not a NUL
    *capacity = static_cast<int32_t>(uri.size());
    return ZORBELU_OK;
}

}  // namespace

extern "C" ZORBELU_API uint32_t ZORBELUGetCDP(const ZORBELUCertBlob* cert, char* buffer, int32_t* capacity) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return GetCdp(cert, buffer, capacity); });
}
