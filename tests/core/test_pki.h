// A small test PKI made with OpenSSL for the core tests: keys, a root CA,
// TSA certificates with chosen extended key usage and validity relative to
// now, CRLs, and a test TSA that signs tokens through the library's local
// creator. Nothing here depends on the wall clock's date.
#ifndef ZORBELU_TESTS_CORE_TEST_PKI_H
#define ZORBELU_TESTS_CORE_TEST_PKI_H

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/test_util.h"

namespace zorbelu::coretest {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

enum class Usage { kNone, kTimeStampingCritical, kTimeStampingNotCritical, kTimeStampingAndServer };

constexpr long kDay = 24 * 3600;

struct CertParams {
    std::string commonName;
    long serial = 1;
    long notBeforeOffset = -kDay;  // seconds from now
    long notAfterOffset = 30 * kDay;
    bool isCa = false;
    Usage usage = Usage::kNone;
};

Key NewEcKey();
Key NewRsaKey(int bits = 2048);
// Signed by `issuerKey` with `issuer`'s subject as issuer name; self-signed when issuer is NULL.
Cert MakeCertificate(const CertParams& params, EVP_PKEY* subjectKey, X509* issuer, EVP_PKEY* issuerKey);
// A CRL of `issuer` revoking `revokedSerials`; update times relative to now.
Bytes MakeCrl(X509* issuer, EVP_PKEY* issuerKey, const std::vector<long>& revokedSerials, long lastUpdateOffset,
              long nextUpdateOffset);

Bytes CertDer(X509* cert);
std::string CertPem(X509* cert);
Bytes KeyDer(EVP_PKEY* key);
std::string KeyPem(EVP_PKEY* key);

// A root CA and a TSA certificate under it.
struct TestTsa {
    Key rootKey;
    Cert root;
    Key tsaKey;
    Cert tsa;
};
TestTsa MakeTestTsa(const CertParams& tsaParams = {"Test TSA", 0x1001, -kDay, 30 * kDay, false,
                                               Usage::kTimeStampingCritical},
                    const std::string& rootName = "Test Root");

// Options of a token made by the library's local creator.
struct TokenOptions {
    uint32_t algorithm = ZORBEL_HASH_SHA256;  // imprint algorithm code
    uint32_t certReq = 1;
    uint32_t nonce = 1;
    uint32_t signerDigest = 0;
    uint32_t essCertIdDigest = 0;
    uint64_t serial = 0;
    bool wholeResponse = false;
    Bytes attributeCertificate;
    std::string policy = "1.2.3.4.1";
};

// The data every made token stamps, and a token for it; throws when the
// creator fails.
Bytes StampedData();
Bytes MakeToken(X509* tsaCert, EVP_PKEY* tsaKey, const TokenOptions& options = {});
// The result code of the local creator for such a request.
uint32_t CreateResult(X509* tsaCert, EVP_PKEY* tsaKey, const TokenOptions& options, Bytes* token = nullptr);

// A core store holding the given CA certificates (DER) and CRLs.
struct StoreFree {
    void operator()(ZORBELCertStore* s) const { ZORBELFreeCertStore(s); }
};
using Store = std::unique_ptr<ZORBELCertStore, StoreFree>;
Store MakeStore(const std::vector<Bytes>& caCerts, const std::vector<Bytes>& crls = {});

}  // namespace zorbelu::coretest

#endif
