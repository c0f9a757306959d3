// Where a certificate says to fetch things from: its CRL distribution points
// and the caIssuers URLs of its authority information access.
#ifndef ZORBELU_X509_URLS_H
#define ZORBELU_X509_URLS_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "x509/ossl_ptr.h"

namespace zorbelu::x509 {

// The certificate's CRL distribution points; NULL without the extension.
DistPointsPtr DistributionPoints(X509* cert);

// True when the certificate has no distribution points extension, or one
// whose points name no reasons and no CRL issuer: a CRL of the certificate's
// issuer then covers it for every reason. False for a malformed or repeated
// extension.
bool HasOnlyPlainDistributionPoints(X509* cert);

// The first "http://" URI among the full names of a distribution point
// (more than six characters, no NUL inside), pointing into the point; NULL
// when none. Relative names, CRL issuers and reasons are ignored.
const char* FindCrlUri(const DIST_POINT* point);
// Likewise, "https://" accepted too.
const char* FindCrlUriAllowTls(const DIST_POINT* point);

struct CrlUrl {
    std::string url;
    unsigned pointNo = 0;  // its distribution point, from 1
};

// The URL of the first distribution point that has one (FindCrlUri, or
// FindCrlUriAllowTls when `allowTls`), whole; nothing when none has.
std::optional<CrlUrl> FirstCrlUrl(X509* cert, bool allowTls = false);

// Copies `url` with its NUL into a fixed buffer of `capacity` bytes. A URL
// that does not fit is refused (false, buffer emptied), never cut short.
[[nodiscard]] bool CopyUrl(const std::string& url, char* buffer, size_t capacity);

// The caIssuers "http://" URLs of the authority information access (longer
// than the prefix, no NUL inside), in order, at most `limit`.
std::vector<std::string> CaIssuerUrls(X509* cert, size_t limit);

// Every URI as written, whatever its scheme, for telling a person where a
// certificate points; the fetchers use the filtered lookups above. Of the
// CRL distribution points: each URI of their full names, point by point. Of
// the authority information access: each caIssuers URI, in order.
std::vector<std::string> EveryCrlUri(const X509* cert);
std::vector<std::string> EveryCaIssuerUri(const X509* cert);

}  // namespace zorbelu::x509

#endif
