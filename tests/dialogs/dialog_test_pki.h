// What the dialog tests take from the fixture PKI: the shared PKI, core
// stores of its certificates and CRLs, and a token that carries a time
// attribute certificate.
#pragma once

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "core/test_util.h"
#include "support/fixture_pki.h"
#include "support/served_pki.h"
#include "support/tac_builder.h"

namespace zorbelu::dialogtest {

inline const fixtures::FixturePki& Pki() { return fixtures::FixturePki::Shared(); }
using coretest::Blob;
using coretest::CertBlobOf;
using coretest::Store;
inline Store MakeStore(const std::vector<fixtures::Ca>& cas, const std::vector<fixtures::Crl>& crls) {
    return coretest::FixtureStore(cas, crls);
}

inline std::string TokenWithTac(const fixtures::FixturePki& pki) {
    const std::string& der = pki.CertDer(fixtures::Tsa::Good);
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const std::unique_ptr<X509, decltype(&X509_free)> holder(d2i_X509(nullptr, &p, static_cast<long>(der.size())),
                                                             X509_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    fixtures::TacParams params;
    params.holder = holder.get();
    params.issuer = X509_get_issuer_name(holder.get());
    params.policy.policyOid = "1.2.3.4.5.6";
    params.signingKey = key.get();
    const std::vector<uint8_t> tac = fixtures::BuildTac(params);
    fixtures::TokenSpec recipe;
    recipe.attributeCertificates = {std::string(tac.begin(), tac.end())};
    return pki.MakeToken(recipe);
}

}  // namespace zorbelu::dialogtest
