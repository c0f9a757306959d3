// fixture_tokens.h - requests, responses and tokens: OpenSSL's responder, or the CMS API for forgeries.
#pragma once

#include "support/fixture_ossl.h"
#include "support/fixture_pki.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zorbelu::fixtures::tokens {

constexpr const char* kPolicyOid = "1.3.6.1.4.1.55555.7.2";

struct Signer {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    std::vector<X509*> extraCerts;  // added after the signer's certificate when certReq is set
};

struct Issuance {
    time_t genTime = 0;
    uint64_t serial = 1;
    bool essV2 = false;               // signingCertificateV2 with SHA-256, else signingCertificate (SHA-1)
    Forgery forgery = Forgery::None;  // only SignWithCms forges
    std::string genTimeText;
};

// A DER TimeStampReq: version 1, the imprint, a nonce when `nonce` is not 0, certReq.
std::string BuildRequest(const EVP_MD* md, const std::string& digest, bool certReq, uint64_t nonce);

// OpenSSL's responder's DER TimeStampResp: granted, or a rejection for a request it cannot serve.
std::string Respond(const Signer& signer, const std::string& requestDer, const Issuance& issuance);

// The TimeStampToken (ContentInfo DER) of a granted response; throws otherwise.
std::string TokenOfResponse(const std::string& responseDer);

// Whether OpenSSL's responder accepts this certificate as a signer.
bool ResponderAccepts(X509* cert);

// A token with the content Respond() would give, signed with the CMS API and forged as told.
std::string SignWithCms(const Signer& signer, const std::string& requestDer, const Issuance& issuance);

}  // namespace zorbelu::fixtures::tokens
