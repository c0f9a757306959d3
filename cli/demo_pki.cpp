#include "demo_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "x509/ossl_ptr.h"

namespace zorbelu::cli {
namespace {

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("cannot make the demo PKI: ") + what);
}

PkeyPtr NewKey() {
    PkeyPtr key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    const X509ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    Check(extension && X509_add_ext(cert, extension.get(), -1) == 1, "extension");
}

X509Ptr NewCertificate(const char* commonName, long serial, EVP_PKEY* key) {
    X509Ptr cert(X509_new());
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

// The DER of an object through its i2d encoder.
template <typename T, int (*I2d)(const T*, unsigned char**)>
std::string Der(const T* object, const char* what) {
    unsigned char* bytes = nullptr;
    const int length = I2d(object, &bytes);
    const OpenSslBytesPtr owned(bytes);
    Check(length > 0 && owned, what);
    return std::string(reinterpret_cast<const char*>(owned.get()), static_cast<size_t>(length));
}

std::string KeyPem(EVP_PKEY* key) {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    Check(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "key");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

DemoPki MakeDemoPki(const std::string& crlUrl) {
    PkeyPtr rootKey = NewKey();
    X509Ptr root = NewCertificate("Demo Root", 1, rootKey.get());
    X509_set_issuer_name(root.get(), X509_get_subject_name(root.get()));
    AddExtension(root.get(), root.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(root.get(), root.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(root.get(), root.get(), NID_subject_key_identifier, "hash");
    Check(X509_sign(root.get(), rootKey.get(), EVP_sha256()) > 0, "root signature");

    PkeyPtr tsaKey = NewKey();
    X509Ptr tsa = NewCertificate("Demo TSA", 2, tsaKey.get());
    X509_set_issuer_name(tsa.get(), X509_get_subject_name(root.get()));
    AddExtension(tsa.get(), root.get(), NID_ext_key_usage, "critical,timeStamping");
    AddExtension(tsa.get(), root.get(), NID_key_usage, "critical,digitalSignature");
    AddExtension(tsa.get(), root.get(), NID_authority_key_identifier, "keyid");
    AddExtension(tsa.get(), root.get(), NID_crl_distribution_points, ("URI:" + crlUrl).c_str());
    Check(X509_sign(tsa.get(), rootKey.get(), EVP_sha256()) > 0, "TSA signature");

    X509CrlPtr crl(X509_CRL_new());
    Check(crl != nullptr, "CRL");
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(root.get()));
    const Asn1TimePtr now(X509_gmtime_adj(nullptr, -3600));
    const Asn1TimePtr next(X509_gmtime_adj(nullptr, 7L * 86400));
    X509_CRL_set1_lastUpdate(crl.get(), now.get());
    X509_CRL_set1_nextUpdate(crl.get(), next.get());
    Check(X509_CRL_sign(crl.get(), rootKey.get(), EVP_sha256()) > 0, "CRL signature");

    return DemoPki{Der<X509, i2d_X509>(root.get(), "encoding"), Der<X509, i2d_X509>(tsa.get(), "encoding"),
                   KeyPem(tsaKey.get()), Der<X509_CRL, i2d_X509_CRL>(crl.get(), "CRL encoding")};
}

}  // namespace zorbelu::cli
