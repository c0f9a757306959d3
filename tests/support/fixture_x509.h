// fixture_x509.h - keys, certificates and CRLs of the fixture PKI, built
// directly with OpenSSL; tests use them for certificate shapes fixture_pki.h lacks.
#ifndef ZORBELU_TESTS_SUPPORT_FIXTURE_X509_H
#define ZORBELU_TESTS_SUPPORT_FIXTURE_X509_H

#include "support/fixture_ossl.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zorbelu::fixtures::x509 {

enum class KeyType { EcP256, Rsa2048 };

// The key for `label`, generated on first use and kept for the life of the
// process, so that repeated fixtures cost no key generation. Thread-safe.
ossl::PkeyPtr CachedKey(const std::string& label, KeyType type);

enum class Eku { None, TimeStampingCritical, TimeStampingNotCritical, TimeStampingAndServerAuth };

struct CertRequest {
    std::string commonName;
    uint64_t serial = 1;
    EVP_PKEY* key = nullptr;        // the subject's key
    X509* issuer = nullptr;         // null: self-signed with `key`
    EVP_PKEY* issuerKey = nullptr;  // with `issuer`
    time_t notBefore = 0;
    time_t notAfter = 0;
    bool ca = false;                // CA: basicConstraints CA:TRUE, keyCertSign and cRLSign
    Eku eku = Eku::None;
    // One entry per distribution point, each the URIs of its full name in order.
    std::vector<std::vector<std::string>> crlDistributionPoints;
    std::string caIssuersUrl;       // authorityInfoAccess caIssuers, when not empty
    std::vector<std::string> moreCaIssuersUrls;  // further caIssuers URLs, after caIssuersUrl
    size_t paddingBytes = 0;        // a non-critical private extension of this size
};

ossl::X509Ptr MakeCertificate(const CertRequest& request);

// A CA (or end) certificate with the cached EC key `key`, valid from an hour
// ago for a month, naming `issuer` (null: self-signed) as issuer and signed
// with the cached key `signer`: the odd shapes chain walks must survive.
ossl::X509Ptr MakeMonthCertificate(const std::string& name, const std::string& key, X509* issuer,
                                   const std::string& signer, bool ca = true);

struct CrlRequest {
    X509* issuer = nullptr;
    EVP_PKEY* issuerKey = nullptr;
    time_t thisUpdate = 0;
    time_t nextUpdate = 0;
    uint64_t crlNumber = 1;
    std::vector<uint64_t> revokedSerials;  // revoked for keyCompromise at revocationDate
    time_t revocationDate = 0;
    // When not 0: unrelated revoked serials are added until the DER CRL has
    // about this many bytes.
    size_t approximateSize = 0;
};

ossl::X509CrlPtr MakeCrl(const CrlRequest& request);

std::string CertDer(X509* cert);
std::string CertPem(X509* cert);
std::string CrlDer(X509_CRL* crl);
std::string CrlPem(X509_CRL* crl);
std::string KeyPem(EVP_PKEY* key);  // PKCS#8, unencrypted
std::string CertDerToPem(const std::string& der);

}  // namespace zorbelu::fixtures::x509

#endif
