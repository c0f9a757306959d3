#include "core/test_pki.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>
#include <stdexcept>

namespace zorbelu::coretest {

namespace {

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

const char* UsageText(Usage usage) {
    switch (usage) {
        case Usage::kTimeStampingCritical: return "critical,timeStamping";
        case Usage::kTimeStampingNotCritical: return "timeStamping";
        case Usage::kTimeStampingAndServer: return "critical,timeStamping,serverAuth";
        case Usage::kNone: break;
    }
    return nullptr;
}

template <typename T, int (*Write)(BIO*, const T*)>
std::string Pem(const T* object) {
    BIO* bio = BIO_new(BIO_s_mem());
    Check(Write(bio, object) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(size));
    BIO_free(bio);
    return text;
}

int WriteKey(BIO* bio, const EVP_PKEY* key) { return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr); }

}  // namespace

Key NewEcKey() {
    Key key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "EC key");
    return key;
}

Key NewRsaKey(int bits) {
    Key key(EVP_RSA_gen(static_cast<unsigned int>(bits)));
    Check(key != nullptr, "RSA key");
    return key;
}

Cert MakeCertificate(const CertParams& params, EVP_PKEY* subjectKey, X509* issuer, EVP_PKEY* issuerKey) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), params.serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), params.notBeforeOffset);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), params.notAfterOffset);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Zorbel Test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(params.commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(cert.get(), subjectKey);
    AddExtension(cert.get(), issuer, NID_subject_key_identifier, "hash");
    if (params.isCa) {
        AddExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), issuer, NID_key_usage, "critical,digitalSignature,nonRepudiation");
    }
    if (const char* usage = UsageText(params.usage)) AddExtension(cert.get(), issuer, NID_ext_key_usage, usage);
    Check(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : subjectKey, EVP_sha256()) > 0, "sign cert");
    return cert;
}

Bytes MakeCrl(X509* issuer, EVP_PKEY* issuerKey, const std::vector<long>& revokedSerials, long lastUpdateOffset,
              long nextUpdateOffset) {
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer));
    ASN1_TIME* last = X509_gmtime_adj(nullptr, lastUpdateOffset);
    ASN1_TIME* next = X509_gmtime_adj(nullptr, nextUpdateOffset);
    X509_CRL_set1_lastUpdate(crl, last);
    X509_CRL_set1_nextUpdate(crl, next);
    for (long serial : revokedSerials) {
        X509_REVOKED* revoked = X509_REVOKED_new();
        ASN1_INTEGER* number = ASN1_INTEGER_new();
        ASN1_INTEGER_set(number, serial);
        X509_REVOKED_set_serialNumber(revoked, number);
        X509_REVOKED_set_revocationDate(revoked, last);
        X509_CRL_add0_revoked(crl, revoked);
        ASN1_INTEGER_free(number);
    }
    X509_CRL_sort(crl);
    Check(X509_CRL_sign(crl, issuerKey, EVP_sha256()) > 0, "sign CRL");
    unsigned char* der = nullptr;
    const int size = i2d_X509_CRL(crl, &der);
    Bytes bytes(der, der + size);
    OPENSSL_free(der);
    ASN1_TIME_free(last);
    ASN1_TIME_free(next);
    X509_CRL_free(crl);
    return bytes;
}

Bytes CertDer(X509* cert) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(cert, &der);
    Check(size > 0, "cert DER");
    Bytes bytes(der, der + size);
    OPENSSL_free(der);
    return bytes;
}

std::string CertPem(X509* cert) { return Pem<X509, PEM_write_bio_X509>(cert); }

Bytes KeyDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int size = i2d_PrivateKey(key, &der);
    Check(size > 0, "key DER");
    Bytes bytes(der, der + size);
    OPENSSL_free(der);
    return bytes;
}

std::string KeyPem(EVP_PKEY* key) { return Pem<EVP_PKEY, WriteKey>(key); }

TestTsa MakeTestTsa(const CertParams& tsaParams, const std::string& rootName) {
    TestTsa tsa;
    tsa.rootKey = NewEcKey();
    tsa.root = MakeCertificate({rootName, 1, -10 * kDay, 3650 * kDay, true, Usage::kNone}, tsa.rootKey.get(),
                               nullptr, nullptr);
    tsa.tsaKey = NewEcKey();
    tsa.tsa = MakeCertificate(tsaParams, tsa.tsaKey.get(), tsa.root.get(), tsa.rootKey.get());
    return tsa;
}

Bytes StampedData() {
    const char text[] = "the data a test token stamps";
    return Bytes(text, text + sizeof text - 1);
}

uint32_t CreateResult(X509* tsaCert, EVP_PKEY* tsaKey, const TokenOptions& options, Bytes* token) {
    const Bytes key = KeyDer(tsaKey);
    const std::string cert = CertPem(tsaCert);
    ZORBELTSASigner signer{};
    signer.privateKey = key.data();
    signer.privateKeyLength = static_cast<uint32_t>(key.size());
    signer.certificate = reinterpret_cast<const uint8_t*>(cert.data());
    signer.certificateLength = static_cast<uint32_t>(cert.size());
    if (!options.attributeCertificate.empty()) {
        signer.attributeCertificate = options.attributeCertificate.data();
        signer.attributeCertificateLength = static_cast<uint32_t>(options.attributeCertificate.size());
    }
    std::snprintf(signer.defaultPolicyOid, sizeof signer.defaultPolicyOid, "%s", options.policy.c_str());
    signer.serialNumber = options.serial;
    signer.signerDigest = options.signerDigest;
    signer.essCertIdDigest = options.essCertIdDigest;
    ZORBELTimeStampRequest request{};
    request.digest = HashWithLibrary(options.algorithm, StampedData());
    request.certReq = options.certReq;
    request.nonce = options.nonce;
    Bytes buffer(16384);
    ZORBELUCertBlob out{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    const uint32_t rc = ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&signer),
                                                     options.wholeResponse ? ZORBEL_CREATE_RESPONSE : ZORBEL_CREATE_TOKEN,
                                                     &request, reinterpret_cast<uintptr_t>(&out));
    if (rc == ZORBEL_OK && token != nullptr) *token = Bytes(buffer.begin(), buffer.begin() + out.length);
    return rc;
}

Bytes MakeToken(X509* tsaCert, EVP_PKEY* tsaKey, const TokenOptions& options) {
    Bytes token;
    const uint32_t rc = CreateResult(tsaCert, tsaKey, options, &token);
    Check(rc == ZORBEL_OK, ("local creator answered " + std::to_string(rc)).c_str());
    return token;
}

Store MakeStore(const std::vector<Bytes>& caCerts, const std::vector<Bytes>& crls) {
    Store store(ZORBELCreateCertStore());
    Check(store != nullptr, "store");
    for (const Bytes& cert : caCerts) {
        ZORBELUCertBlob item{const_cast<uint8_t*>(cert.data()), static_cast<uint32_t>(cert.size()), ZORBELU_ENCODING_DETECT};
        Check(ZORBELAddCACert(store.get(), &item) == ZORBEL_OK, "add CA");
    }
    for (const Bytes& crl : crls) {
        ZORBELUCertBlob item{const_cast<uint8_t*>(crl.data()), static_cast<uint32_t>(crl.size()), ZORBELU_ENCODING_DETECT};
        Check(ZORBELAddCRL(store.get(), &item) == ZORBEL_OK, "add CRL");
    }
    return store;
}

}  // namespace zorbelu::coretest
