// What the dialog tests take from the fixture PKI: one PKI per test
// program, token records, core stores of its certificates and CRLs, and a
// token that carries a time attribute certificate.
#pragma once

#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fixture_pki.h"
#include "support/served_pki.h"
#include "support/tac_builder.h"
#include "zorbel.h"

namespace zorbelu::dialogtest {

// One fixture PKI per test program (ctest runs every test in a process of
// its own, so this is made once per test).
inline fixtures::FixturePki& Pki() {
    static test::TempDir dir;
    static fixtures::FixturePki pki = fixtures::FixturePki::Create(dir.path() / "pki");
    return pki;
}

inline ZORBELUBlob Blob(const std::string& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}

inline ZORBELUCertBlob CertBlobOf(const std::string& bytes) {
    return {reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())), static_cast<uint32_t>(bytes.size()), 1};
}

struct StoreFree {
    void operator()(ZORBELCertStore* s) const { ZORBELFreeCertStore(s); }
};
using Store = std::unique_ptr<ZORBELCertStore, StoreFree>;

// A core store with the fixture's CA certificates `cas` and CRLs `crls`.
inline Store MakeStore(const std::vector<fixtures::Ca>& cas, const std::vector<fixtures::Crl>& crls) {
    Store store(ZORBELCreateCertStore());
    for (fixtures::Ca ca : cas) {
        const ZORBELUCertBlob blob = CertBlobOf(Pki().CertDer(ca));
        EXPECT_EQ(ZORBELAddCACert(store.get(), &blob), 1u);
    }
    for (fixtures::Crl crl : crls) {
        const ZORBELUCertBlob blob = CertBlobOf(Pki().CrlBytes(crl));
        EXPECT_EQ(ZORBELAddCRL(store.get(), &blob), 1u);
    }
    return store;
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
