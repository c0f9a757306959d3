// Certificate decoding of arbitrary bytes, with each encoding code.
#include <openssl/err.h>

#include <cstdint>

#include "certs/certificate_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    for (uint32_t encoding = 1; encoding <= 3; ++encoding) {
        X509* cert = zorbelu::certs::DecodeCertificate(data, static_cast<int32_t>(size), encoding);
        X509_free(cert);
    }
    uint8_t der[15000];
    uint32_t capacity = sizeof der;
    (void)zorbelu::certs::PemCertToDer(data, static_cast<uint32_t>(size), der, &capacity);
    ERR_clear_error();
    return 0;
}
