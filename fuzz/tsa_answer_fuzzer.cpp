// Arbitrary bytes as a TSA's answer over HTTP, checked against a fixed request
// (SHA-256 of "hello"), once with a fixed nonce sent and once without one.
#include <openssl/err.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/token_creation_http.h"
#include "x509/ossl_ptr.h"

namespace {

ZORBELTimeStampRequest FixedRequest() {
    static const uint8_t kHelloSha256[32] = {0x2c, 0xf2, 0x4d, 0xba, 0x5f, 0xb0, 0xa3, 0x0e, 0x26, 0xe8, 0x3b,
                                             0x2a, 0xc5, 0xb9, 0xe2, 0x9e, 0x1b, 0x16, 0x1e, 0x5c, 0x1f, 0xa7,
                                             0x42, 0x5e, 0x73, 0x04, 0x33, 0x62, 0x93, 0x8b, 0x98, 0x24};
    ZORBELTimeStampRequest request{};
    std::strcpy(request.digest.algorithmOid, "2.16.840.1.101.3.4.2.1");
    std::memcpy(request.digest.digest, kHelloSha256, sizeof kHelloSha256);
    request.digest.digestLength = sizeof kHelloSha256;
    request.certReq = 1;
    request.nonce = 1;
    return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ZORBELTimeStampRequest request = FixedRequest();
    const std::vector<uint8_t> answer(data, data + size);
    zorbel::Asn1IntPtr nonce(ASN1_INTEGER_new());
    if (!nonce || ASN1_INTEGER_set_uint64(nonce.get(), 0x1122334455667788u) != 1) return 0;
    const ASN1_INTEGER* const sent[] = {nonce.get(), nullptr};
    for (const ASN1_INTEGER* withNonce : sent) {
        zorbel::Token token;
        (void)zorbel::AcceptAnswer(answer, request, withNonce, token);
    }
    ERR_clear_error();
    return 0;
}
