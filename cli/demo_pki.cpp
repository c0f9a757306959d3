#include "demo_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>
#include <stdexcept>

namespace zorbelu::cli {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Deleter<X509_CRL, X509_CRL_free>>;

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("cannot make the demo PKI: ") + what);
}

KeyPtr NewKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(extension != nullptr && X509_add_ext(cert, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
}

CertPtr NewCertificate(const char* commonName, long serial, EVP_PKEY* key) {
    CertPtr cert(X509_new());
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 86400);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("zorbelu demo"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                               0);
    X509_set_pubkey(cert.get(), key);
    return cert;
}

std::string Der(X509* cert) {
    unsigned char* bytes = nullptr;
    const int length = i2d_X509(cert, &bytes);
    Check(length > 0, "encoding");
    std::string der(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return der;
}

std::string KeyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    Check(bio != nullptr && PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "key");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(length));
    BIO_free(bio);
    return pem;
}

}  // namespace

DemoPki MakeDemoPki(const std::string& crlUrl) {
    KeyPtr rootKey = NewKey();
    CertPtr root = NewCertificate("Demo Root", 1, rootKey.get());
    X509_set_issuer_name(root.get(), X509_get_subject_name(root.get()));
    AddExtension(root.get(), root.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(root.get(), root.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(root.get(), root.get(), NID_subject_key_identifier, "hash");
    Check(X509_sign(root.get(), rootKey.get(), EVP_sha256()) > 0, "root signature");

    KeyPtr tsaKey = NewKey();
    CertPtr tsa = NewCertificate("Demo TSA", 2, tsaKey.get());
    X509_set_issuer_name(tsa.get(), X509_get_subject_name(root.get()));
    AddExtension(tsa.get(), root.get(), NID_ext_key_usage, "critical,timeStamping");
    AddExtension(tsa.get(), root.get(), NID_key_usage, "critical,digitalSignature");
    AddExtension(tsa.get(), root.get(), NID_authority_key_identifier, "keyid");
    AddExtension(tsa.get(), root.get(), NID_crl_distribution_points, ("URI:" + crlUrl).c_str());
    Check(X509_sign(tsa.get(), rootKey.get(), EVP_sha256()) > 0, "TSA signature");

    CrlPtr crl(X509_CRL_new());
    Check(crl != nullptr, "CRL");
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(root.get()));
    ASN1_TIME* now = X509_gmtime_adj(nullptr, -3600);
    ASN1_TIME* next = X509_gmtime_adj(nullptr, 7L * 86400);
    X509_CRL_set1_lastUpdate(crl.get(), now);
    X509_CRL_set1_nextUpdate(crl.get(), next);
    ASN1_TIME_free(now);
    ASN1_TIME_free(next);
    Check(X509_CRL_sign(crl.get(), rootKey.get(), EVP_sha256()) > 0, "CRL signature");
    unsigned char* crlBytes = nullptr;
    const int crlLength = i2d_X509_CRL(crl.get(), &crlBytes);
    Check(crlLength > 0, "CRL encoding");

    DemoPki pki{Der(root.get()), Der(tsa.get()), KeyPem(tsaKey.get()),
                std::string(reinterpret_cast<char*>(crlBytes), static_cast<size_t>(crlLength))};
    OPENSSL_free(crlBytes);
    return pki;
}

}  // namespace zorbelu::cli
