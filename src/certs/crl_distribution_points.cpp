#include "certs/crl_distribution_points.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "certs/certificate_decoding.h"
#include "certs/openssl_ptr.h"
#include "frame/module_state.h"

namespace zorbelu::certs {
namespace {

constexpr uint32_t kResultEmptyList = 1000;

struct DistPointsFree {
    void operator()(STACK_OF(DIST_POINT) * points) const { sk_DIST_POINT_pop_free(points, DIST_POINT_free); }
};
using DistPointsPtr = std::unique_ptr<STACK_OF(DIST_POINT), DistPointsFree>;

DistPointsPtr DistributionPoints(X509* cert) {
    return DistPointsPtr(
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
}

bool StartsWith(const char* text, int length, const char* prefix) {
    const int prefixLength = static_cast<int>(std::strlen(prefix));
    return length >= prefixLength && std::strncmp(text, prefix, static_cast<size_t>(prefixLength)) == 0;
}

const char* FindUri(const DIST_POINT* point, bool allowTls) {
    if (point == nullptr || point->distpoint == nullptr || point->distpoint->type != 0) return nullptr;
    const GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        if (name->type != GEN_URI) continue;
        const char* text = reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.uniformResourceIdentifier));
        const int length = ASN1_STRING_length(name->d.uniformResourceIdentifier);
        if (length <= 6 || text == nullptr) continue;
        // A URI with a NUL inside would read as another, shorter one.
        if (std::memchr(text, '\0', static_cast<size_t>(length)) != nullptr) continue;
        if (StartsWith(text, length, "http://") || (allowTls && StartsWith(text, length, "https://"))) return text;
    }
    return nullptr;
}

}  // namespace

const char* FindCrlUri(const DIST_POINT* point) { return FindUri(point, false); }
const char* FindCrlUriAllowTls(const DIST_POINT* point) { return FindUri(point, true); }

uint32_t GetFirstCrlUrl(X509* cert, char** url, uint32_t* pointNo) {
    DistPointsPtr points = DistributionPoints(cert);
    if (!points) return ZORBELU_VS_REVOCATION_UNKNOWN;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const char* uri = FindCrlUri(sk_DIST_POINT_value(points.get(), i));
        if (uri == nullptr) continue;
        const size_t length = std::strlen(uri);
        char* copy = static_cast<char*>(std::calloc(length + 1, 1));
        if (copy == nullptr) return ZORBELU_ERR_MEMORY;
        std::memcpy(copy, uri, length);
        *url = copy;
        *pointNo = static_cast<uint32_t>(i + 1);
        return ZORBELU_OK;
    }
    return ZORBELU_VS_REVOCATION_UNKNOWN;
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
    zorbelu::X509Ptr x509(DecodeCertificate(cert->data, static_cast<int32_t>(cert->length), cert->encoding));
    if (!x509) return ZORBELU_VS_CERT_INVALID;
    DistPointsPtr points = DistributionPoints(x509.get());
    if (!points) return ZORBELU_ERR_NOT_FOUND;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const char* uri = FindCrlUriAllowTls(sk_DIST_POINT_value(points.get(), i));
        if (uri == nullptr) continue;
        const size_t length = std::strlen(uri);
        if (length > static_cast<size_t>(*capacity)) return ZORBELU_ERR_BUFFER_TOO_SMALL;
        std::memcpy(buffer, uri, length);  // the caller gets the length, not a NUL
        *capacity = static_cast<int32_t>(length);
        return ZORBELU_OK;
    }
    return ZORBELU_ERR_NOT_FOUND;
}

}  // namespace

extern "C" ZORBELU_API uint32_t ZORBELUGetCDP(const ZORBELUCertBlob* cert, char* buffer, int32_t* capacity) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return GetCdp(cert, buffer, capacity); });
}
