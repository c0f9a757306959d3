// Keys and certificates a caller hands over as PEM or DER bytes.
#ifndef ZORBEL_CORE_PEM_OR_DER_H
#define ZORBEL_CORE_PEM_OR_DER_H

#include <cstdint>

#include "x509/ossl_ptr.h"

namespace zorbel {

PkeyPtr DecodePrivateKey(const uint8_t* data, uint32_t length);
X509Ptr DecodeCertificate(const uint8_t* data, uint32_t length);
// Several certificates: PEM blocks, or DER certificates back to back.
// False when the bytes hold anything else.
[[nodiscard]] bool DecodeCertificates(const uint8_t* data, uint32_t length, STACK_OF(X509) * out);

}  // namespace zorbel

#endif
