#include "core/integer_bytes.h"

#include <openssl/crypto.h>

#include "x509/der.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

bool IntegerContentOctets(const ASN1_INTEGER* integer, std::vector<uint8_t>& octets) {
    unsigned char* encoded = nullptr;
    const int size = i2d_ASN1_INTEGER(integer, &encoded);
    const OpenSslBytesPtr owned(encoded);
    if (size <= 0) return false;
    der::Reader reader({encoded, static_cast<size_t>(size)});
    der::Tlv tlv;
    const bool ok = reader.Expect(der::kInteger, tlv);
    if (ok) octets.assign(tlv.contents.data, tlv.contents.data + tlv.contents.size);
    return ok;
}

}  // namespace zorbel
