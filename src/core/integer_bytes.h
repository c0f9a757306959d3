// The content octets of an INTEGER exactly as DER gives them (two's
// complement, most significant first).
#ifndef ZORBEL_CORE_INTEGER_BYTES_H
#define ZORBEL_CORE_INTEGER_BYTES_H

#include <openssl/asn1.h>

#include <cstdint>
#include <vector>

namespace zorbel {

[[nodiscard]] bool IntegerContentOctets(const ASN1_INTEGER* integer, std::vector<uint8_t>& octets);

}  // namespace zorbel

#endif
