// Adding an attribute certificate to a token's certificate set. The set is
// outside what the signature covers, so it can be extended after signing.
#ifndef ZORBEL_CORE_CERTIFICATE_SET_H
#define ZORBEL_CORE_CERTIFICATE_SET_H

#include <cstdint>
#include <vector>

namespace zorbel {

// `contentInfo`: a DER token; `attributeCertificate`: a DER (SEQUENCE)
// attribute certificate, added as v2AttrCert [2] (SignedData version 4).
[[nodiscard]] bool AddAttributeCertificate(const std::vector<uint8_t>& contentInfo,
                                           const std::vector<uint8_t>& attributeCertificate, std::vector<uint8_t>& out);

// Replaces the token of a DER TimeStampResp.
[[nodiscard]] bool ReplaceResponseToken(const std::vector<uint8_t>& response, const std::vector<uint8_t>& contentInfo,
                                        std::vector<uint8_t>& out);

}  // namespace zorbel

#endif
