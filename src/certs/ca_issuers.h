// What the chain engine (chain_engine.cpp) reads from outside to find a
// missing issuer: a certificate's caIssuers URLs and the certificates a
// caIssuers URL answers with. Declared on their own so that they can be
// exercised without a chain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "x509/ossl_ptr.h"

namespace zorbelu::platform {

// The caIssuers http:// URLs of the certificate's authority information
// access, at most kMaxIssuerUrls.
std::vector<std::string> CaIssuerUrls(X509* certificate);

// The certificates of a caIssuers answer: DER, or PEM with up to
// kMaxIssuerCertificatesPerDownload.
std::vector<X509Ptr> CaIssuerCertificates(const std::vector<uint8_t>& bytes);

}  // namespace zorbelu::platform
