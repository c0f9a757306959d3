#include "x509/urls.h"

#include <cstring>
#include <utility>

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

// The URI of a general name, bytes as they are; "" for any other name.
std::string UriText(const GENERAL_NAME* name) {
    if (name == nullptr || name->type != GEN_URI) return "";
    const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                       static_cast<size_t>(ASN1_STRING_length(uri)));
}

// Hands each caIssuers URI of `cert` to `take` until it answers false.
template <typename Take>
void ForEachCaIssuerUri(const X509* cert, Take take) {
    const AuthorityInfoAccessPtr access(
        static_cast<AUTHORITY_INFO_ACCESS*>(X509_get_ext_d2i(cert, NID_info_access, nullptr, nullptr)));
    for (int i = 0; access && i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
        const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        if (OBJ_obj2nid(description->method) != NID_ad_ca_issuers) continue;
        if (std::string uri = UriText(description->location); !uri.empty() && !take(std::move(uri))) return;
    }
}

}  // namespace

DistPointsPtr DistributionPoints(X509* cert) {
    if (cert == nullptr) return nullptr;
    return DistPointsPtr(
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
}

bool HasOnlyPlainDistributionPoints(X509* cert) {
    int found = 0;
    const DistPointsPtr points(
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, &found, nullptr)));
    if (!points) return found == -1;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        if (point->reasons != nullptr || point->CRLissuer != nullptr) return false;
    }
    return true;
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
    if (limit == 0) return urls;
    ForEachCaIssuerUri(cert, [&](std::string uri) {
        if (uri.rfind("http://", 0) == 0 && uri.size() > 7 && uri.find('\0') == std::string::npos)
            urls.push_back(std::move(uri));
        return urls.size() < limit;
    });
    return urls;
}

std::vector<std::string> EveryCrlUri(const X509* cert) {
    std::vector<std::string> uris;
    const DistPointsPtr points(
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
    for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        if (point->distpoint == nullptr || point->distpoint->type != 0) continue;
        const GENERAL_NAMES* names = point->distpoint->name.fullname;
        for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j)
            if (std::string uri = UriText(sk_GENERAL_NAME_value(names, j)); !uri.empty()) uris.push_back(std::move(uri));
    }
    return uris;
}

std::vector<std::string> EveryCaIssuerUri(const X509* cert) {
    std::vector<std::string> uris;
    ForEachCaIssuerUri(cert, [&](std::string uri) {
        uris.push_back(std::move(uri));
        return true;
    });
    return uris;
}

}  // namespace zorbelu::x509
