// fixture_x509.h - keys, certificates and CRLs built with OpenSSL, for shapes fixture_pki.h lacks.
#pragma once

#include "support/fixture_ossl.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zorbelu::fixtures::x509 {

enum class KeyType { EcP256, Rsa2048 };

// The key for `label`, generated on first use and kept for the process. Thread-safe.
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
    std::vector<std::vector<std::string>> crlDistributionPoints;  // per point, the URIs of its full name
    std::string caIssuersUrl;       // authorityInfoAccess caIssuers, when not empty
    std::vector<std::string> moreCaIssuersUrls;  // further caIssuers URLs, after caIssuersUrl
    size_t paddingBytes = 0;        // a non-critical private extension of this size
};

ossl::X509Ptr MakeCertificate(const CertRequest& request);

// A month-long certificate with the cached key `key`, issued by `issuer` (null: self) with the key `signer`.
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
    size_t approximateSize = 0;  // not 0: filler entries up to about this many DER bytes
};

ossl::X509CrlPtr MakeCrl(const CrlRequest& request);

std::string CertDer(X509* cert);
std::string CertPem(X509* cert);
std::string CrlDer(X509_CRL* crl);
std::string CrlPem(X509_CRL* crl);
std::string KeyPem(EVP_PKEY* key);  // PKCS#8, unencrypted
std::string CertDerToPem(const std::string& der);
std::string CertPemToDer(const std::string& pem);

}  // namespace zorbelu::fixtures::x509
