#include "certs/certificate_decoding.h"

#include <openssl/pem.h>

#include <algorithm>
#include <cstring>

#include "certs/a_d2i_fp_kovra.h"
#include "certs/openssl_ptr.h"

namespace zorbelu::certs {

uint32_t DetectEncoding(const uint8_t* data, size_t length) {
    const size_t looked = std::min<size_t>(length, 3);
    for (size_t i = 0; i < looked; ++i)
        if (data[i] >= 0x80) return ZORBELU_ENCODING_DER;
    return ZORBELU_ENCODING_PEM;
}

X509* DecodeCertificate(const uint8_t* data, int32_t length, uint32_t encoding) {
    if (data == nullptr || length < 0) return nullptr;
    BioPtr bio(BIO_new_mem_buf(data, length));
    if (!bio) return nullptr;
    if (encoding == ZORBELU_ENCODING_DETECT) encoding = DetectEncoding(data, static_cast<size_t>(length));
    if (encoding == ZORBELU_ENCODING_DER) return der_x509_d2i_bio(bio.get(), nullptr);
    if (encoding == ZORBELU_ENCODING_PEM) {
        return static_cast<X509*>(PEM_ASN1_read_bio(reinterpret_cast<d2i_of_void*>(d2i_X509), PEM_STRING_X509,
                                                    bio.get(), nullptr, nullptr, nullptr));
    }
    return nullptr;
}

uint32_t PemCertToDer(const uint8_t* pem, uint32_t length, uint8_t* out, uint32_t* capacity) {
    if (pem == nullptr || capacity == nullptr || length > INT32_MAX) return ZORBELU_ERR_MEMORY;
    BioPtr in(BIO_new_mem_buf(pem, static_cast<int>(length)));
    if (!in) return ZORBELU_ERR_MEMORY;
    X509Ptr cert(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
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
        BioPtr bio(BIO_new_mem_buf(node->data, static_cast<int>(node->length)));
        if (!bio) continue;
        // The bytes decide, whatever the node says.
        X509CrlPtr crl(DetectEncoding(node->data, node->length) == ZORBELU_ENCODING_DER
                           ? d2i_X509_CRL_bio(bio.get(), nullptr)
                           : PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr));
        if (!crl || X509_STORE_add_crl(x509Store, crl.get()) != 1) return ZORBELU_ERR_CRL;
    }
    return ZORBELU_OK;
}

}  // namespace zorbelu::certs
