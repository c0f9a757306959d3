#include "core/pem_or_der.h"

#include "x509/decoding.h"

namespace zorbel {

namespace x509 = zorbelu::x509;

namespace {

bool Usable(const uint8_t* data, uint32_t length) { return data != nullptr && length != 0 && length <= INT32_MAX; }

}  // namespace

PkeyPtr DecodePrivateKey(const uint8_t* data, uint32_t length) {
    if (!Usable(data, length)) return nullptr;
    if (x509::HoldsPemBlock(data, length)) return x509::DecodePemPrivateKey(data, length);
    return x509::DecodeDerPrivateKey(data, length);
}

X509Ptr DecodeCertificate(const uint8_t* data, uint32_t length) {
    if (!Usable(data, length)) return nullptr;
    return x509::DecodeCertificate(data, length,
                                   x509::HoldsPemBlock(data, length) ? x509::Encoding::kPem : x509::Encoding::kDer);
}

bool DecodeCertificates(const uint8_t* data, uint32_t length, STACK_OF(X509) * out) {
    if (!Usable(data, length)) return false;
    if (x509::HoldsPemBlock(data, length)) {
        bool pushed = true;
        const size_t count = x509::ForEachPemCertificate(data, length, SIZE_MAX, [&](X509Ptr certificate) {
            pushed = sk_X509_push(out, certificate.get()) != 0;
            if (pushed) certificate.release();
            return pushed;
        });
        return pushed && count > 0;
    }
    const uint8_t* p = data;
    const uint8_t* end = data + length;
    while (p < end) {
        X509Ptr certificate = x509::DecodeDerCertificateAt(&p, static_cast<size_t>(end - p));
        if (!certificate || !sk_X509_push(out, certificate.get())) return false;
        certificate.release();
    }
    return true;
}

}  // namespace zorbel
