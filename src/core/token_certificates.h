// A token's X.509 certificates, taken out of its certificate set before
// OpenSSL parses the rest. OpenSSL decodes every certificate it parses,
// public key and all, which costs more than checking the token's signature;
// yet every token of a TSA carries the same certificate. Taken out, they are
// decoded once per process (platform/stores/decoded_objects.h) and the
// SignedData is parsed without them.
#ifndef ZORBEL_CORE_TOKEN_CERTIFICATES_H
#define ZORBEL_CORE_TOKEN_CERTIFICATES_H

#include <cstdint>
#include <vector>

#include "x509/der.h"

namespace zorbel {

struct CertificatesTakenOut {
    // The ContentInfo again, its certificate set holding only what is not
    // an X.509 certificate (attribute certificates, other formats), or no
    // certificate set when nothing is left of it.
    std::vector<uint8_t> contentInfo;
    // The X.509 certificates in set order, pointing into the DER given.
    std::vector<der::Span> certificates;
};

// False when `contentInfo` (DER) is not a ContentInfo holding signed data
// and nothing else: it is then parsed whole, as it is.
[[nodiscard]] bool TakeOutCertificates(const std::vector<uint8_t>& contentInfo, CertificatesTakenOut& out);

}  // namespace zorbel

#endif
