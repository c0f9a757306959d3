// Certificates made on the spot for store and chain tests: CA certificates
// whose names and signers the test chooses (cross-signed pairs, self-issued
// non-roots, long chains), and a large one.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorbelu::test {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::shared_ptr<EVP_PKEY>;

inline Key NewKey() {
    Key key(EVP_EC_gen("P-256"), KeyFree());
    if (!key) throw std::runtime_error("no key");
    return key;
}

struct CertSpec {
    std::string subject;    // CN
    std::string issuer;     // CN
    EVP_PKEY* key = nullptr;     // the certificate's own key
    EVP_PKEY* signer = nullptr;  // the key that signs it
    bool ca = true;
    long serial = 1;
    long notBeforeOffset = -3600;      // seconds from now
    long notAfterOffset = 86400 * 30;  // seconds from now
    size_t padding = 0;                // bytes of a private, non-critical extension
};

inline std::string MakeCertDer(const CertSpec& recipe) {
    std::unique_ptr<X509, void (*)(X509*)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), recipe.serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), recipe.notBeforeOffset);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), recipe.notAfterOffset);
    const auto name = [](X509_NAME* n, const std::string& cn) {
        X509_NAME_add_entry_by_txt(n, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Gathering Test"), -1,
                                   -1, 0);
        X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()), -1,
                                   -1, 0);
    };
    name(X509_get_subject_name(cert.get()), recipe.subject);
    name(X509_get_issuer_name(cert.get()), recipe.issuer);
    X509_set_pubkey(cert.get(), recipe.key);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    const char* constraints = recipe.ca ? "critical,CA:TRUE" : "critical,CA:FALSE";
    if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, constraints)) {
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    if (recipe.padding > 0) {
        ASN1_OBJECT* oid = OBJ_txt2obj("1.3.6.1.4.1.55555.99.1", 1);
        ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
        const std::string filler(recipe.padding, 'x');
        ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(filler.data()),
                              static_cast<int>(filler.size()));
        X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, value);
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
        ASN1_OCTET_STRING_free(value);
        ASN1_OBJECT_free(oid);
    }
    if (X509_sign(cert.get(), recipe.signer, EVP_sha256()) <= 0) throw std::runtime_error("cannot sign");
    unsigned char* der = nullptr;
    const int size = i2d_X509(cert.get(), &der);
    std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(size));
    OPENSSL_free(der);
    return bytes;
}

inline std::string ToPem(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, void (*)(X509*)> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(bio.get(), cert.get());
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(size));
}

// A self-signed CA certificate.
inline std::string MakeRoot(const std::string& cn, EVP_PKEY* key, long serial = 1) {
    return MakeCertDer({cn, cn, key, key, true, serial});
}

inline const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace zorbelu::test
