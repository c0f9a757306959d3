#include "certs/certificate_decoding.h"

#include <cstring>

#include "platform/stores/decoded_objects.h"
#include "x509/decoding.h"

namespace zorbelu::certs {

uint32_t DetectEncoding(const uint8_t* data, size_t length) {
    return static_cast<uint32_t>(x509::DetectEncoding(data, length));
}

X509* DecodeCertificate(const uint8_t* data, int32_t length, uint32_t encoding) {
    if (data == nullptr || length < 0) return nullptr;
    const auto size = static_cast<size_t>(length);
    if (encoding == ZORBELU_ENCODING_DETECT) encoding = DetectEncoding(data, size);
    if (encoding == ZORBELU_ENCODING_DER) return x509::ReadDerCertificate(data, size).release();
    if (encoding == ZORBELU_ENCODING_PEM) return x509::DecodePemCertificate(data, size).release();
    return nullptr;
}

X509CrlPtr DecodeCrl(const uint8_t* data, size_t length, uint32_t encoding, uint32_t* used) {
    if (data == nullptr || length == 0 || length > x509::kMaxEncodedSize) return nullptr;
    if (encoding == ZORBELU_ENCODING_DETECT) encoding = DetectEncoding(data, length);
    if (encoding != ZORBELU_ENCODING_DER && encoding != ZORBELU_ENCODING_PEM) return nullptr;
    if (used != nullptr) *used = encoding;
    if (encoding == ZORBELU_ENCODING_DER) {
        if (X509_CRL* shared = stores::SharedCrl(data, length)) return X509CrlPtr(shared);
    }
    return x509::DecodeCrl(data, length, static_cast<x509::Encoding>(encoding));
}

uint32_t PemCertToDer(const uint8_t* pem, uint32_t length, uint8_t* out, uint32_t* capacity) {
    if (pem == nullptr || capacity == nullptr || length > INT32_MAX) return ZORBELU_ERR_MEMORY;
    X509Ptr cert = x509::DecodePemCertificate(pem, length);
    BioPtr der(BIO_new(BIO_s_mem()));
    if (!cert || !der || i2d_X509_bio(der.get(), cert.get()) != 1) return ZORBELU_ERR_MEMORY;
    char* bytes = nullptr;
    const long size = BIO_get_mem_data(der.get(), &bytes);
    if (size <= 0 || bytes == nullptr) return ZORBELU_ERR_MEMORY;
    if (static_cast<unsigned long>(size) > *capacity || out == nullptr) return ZORBELU_ERR_BUFFER_TOO_SMALL;
    std::memcpy(out, bytes, static_cast<size_t>(size));
    *capacity = static_cast<uint32_t>(size);
    return ZORBELU_OK;
}

uint32_t LoadCACertsIntoX509Store(const ZORBELCertStore* store, X509_STORE* x509Store) {
    for (const ZORBELCertNode* node = store->caCerts; node != nullptr; node = node->next) {
        X509Ptr cert(DecodeCertificate(node->data, static_cast<int32_t>(node->length), node->encoding));
        if (!cert) continue;
        if (X509_STORE_add_cert(x509Store, cert.get()) != 1) return ZORBELU_ERR_CA_CERT;
    }
    return ZORBELU_OK;
}

uint32_t LoadCRLsIntoX509Store(const ZORBELCertStore* store, X509_STORE* x509Store) {
    for (const ZORBELCertNode* node = store->crls; node != nullptr; node = node->next) {
        if (node->data == nullptr || node->length > INT32_MAX) return ZORBELU_ERR_CRL;
        // The bytes decide, whatever the node says.
        const X509CrlPtr crl = DecodeCrl(node->data, node->length, ZORBELU_ENCODING_DETECT);
        if (!crl || X509_STORE_add_crl(x509Store, crl.get()) != 1) return ZORBELU_ERR_CRL;
    }
    return ZORBELU_OK;
}

}  // namespace zorbelu::certs
