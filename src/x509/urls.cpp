#include "x509/urls.h"

#include <cstring>

namespace zorbelu::x509 {
namespace {

bool StartsWith(const char* text, size_t length, const char* prefix) {
    const size_t prefixLength = std::strlen(prefix);
    return length >= prefixLength && std::strncmp(text, prefix, prefixLength) == 0;
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
        const auto size = static_cast<size_t>(length);
        // A URI with a NUL inside would read as another, shorter one.
        if (std::memchr(text, '\0', size) != nullptr) continue;
        if (StartsWith(text, size, "http://") || (allowTls && StartsWith(text, size, "https://"))) return text;
    }
    return nullptr;
}

}  // namespace

DistPointsPtr DistributionPoints(X509* cert) {
    if (cert == nullptr) return nullptr;
    return DistPointsPtr(
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
}

const char* FindCrlUri(const DIST_POINT* point) { return FindUri(point, false); }
const char* FindCrlUriAllowTls(const DIST_POINT* point) { return FindUri(point, true); }

std::optional<CrlUrl> FirstCrlUrl(X509* cert, bool allowTls) {
    const DistPointsPtr points = DistributionPoints(cert);
    if (!points) return std::nullopt;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        if (const char* uri = FindUri(sk_DIST_POINT_value(points.get(), i), allowTls))
            return CrlUrl{uri, static_cast<unsigned>(i + 1)};
    }
    return std::nullopt;
}

bool CopyUrl(const std::string& url, char* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    std::memset(buffer, 0, capacity);
    if (url.size() >= capacity) return false;
    std::memcpy(buffer, url.data(), url.size());
    return true;
}

std::vector<std::string> CaIssuerUrls(X509* cert, size_t limit) {
    std::vector<std::string> urls;
    const AuthorityInfoAccessPtr access(
        static_cast<AUTHORITY_INFO_ACCESS*>(X509_get_ext_d2i(cert, NID_info_access, nullptr, nullptr)));
    if (!access) return urls;
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access.get()) && urls.size() < limit; ++i) {
        const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        if (OBJ_obj2nid(description->method) != NID_ad_ca_issuers) continue;
        if (description->location->type != GEN_URI) continue;
        const ASN1_IA5STRING* uri = description->location->d.uniformResourceIdentifier;
        const std::string text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                               static_cast<size_t>(ASN1_STRING_length(uri)));
        if (text.rfind("http://", 0) == 0 && text.size() > 7 && text.find('\0') == std::string::npos)
            urls.push_back(text);
    }
    return urls;
}

}  // namespace zorbelu::x509
