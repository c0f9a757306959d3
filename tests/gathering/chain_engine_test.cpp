// The chain engine on the served fixture PKI: issuers from the stores and
// through caIssuers URLs (kept in "CA" afterwards), the error bits of
// untrusted, revoked, expired and incomplete chains, and the bounds that end
// cyclic stores and overlong chains.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "certs/chain_engine.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
using namespace zorbelu::platform;
using fixtures::Ca;
using fixtures::Store;
using fixtures::Tsa;
using test::Bytes;
namespace x509 = fixtures::x509;
using fixtures::ossl::X509Ptr;

// The odd certificates of these tests, each valid for a month.
fixtures::ossl::X509Ptr Cert(const std::string& name, const std::string& key, X509* issuer, const std::string& signer,
                             bool ca = true) {
    return x509::MakeMonthCertificate(name, key, issuer, signer, ca);
}

class gathering_ChainEngine : public testing::Test {
protected:
    UniqueCertChain Chain(const std::string& der, uint32_t flags = CERT_CHAIN_REVOCATION_CHECK_END_CERT) {
        const UniqueCertContext context(
            CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(der), static_cast<uint32_t>(der.size())));
        EXPECT_NE(context, nullptr);
        CERT_CHAIN_PARA parameters;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        EXPECT_TRUE(
            CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, &parameters, flags, nullptr, &chain));
        return UniqueCertChain(chain);
    }
    static std::vector<std::string> Elements(const CERT_CHAIN_CONTEXT& chain) {
        std::vector<std::string> ders;
        for (const CERT_CHAIN_ELEMENT& element : chain.rgpChain.at(0).rgpElement)
            ders.emplace_back(reinterpret_cast<const char*>(element.pCertContext->pbCertEncoded),
                              element.pCertContext->cbCertEncoded);
        return ders;
    }
    void ClearStores() {
        fs::remove_all(served_.storeDir() / "CA");
        fs::remove_all(served_.storeDir() / "ROOT");
    }
    const std::string& Der(Ca ca) { return served_.pki().CertDer(ca); }
    const std::string& Der(Tsa tsa) { return served_.pki().CertDer(tsa); }

    test::ServedPki served_;
};

TEST_F(gathering_ChainEngine, AnIssuerOnlyReachableThroughCaIssuersIsFetchedAndKeptInCa) {
    served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root);
    // A forged intermediate verifies its TSA certificate, but its chain ends
    // at a root of the right name and another key: it is not kept. (The
    // genuine intermediate's CRL does not speak for the forged one's TSA.)
    const UniqueCertChain forged = Chain(Der(Tsa::LookAlike));
    EXPECT_EQ(forged->TrustStatus.dwErrorStatus, CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN);
    EXPECT_EQ(Elements(*forged), (std::vector<std::string>{Der(Tsa::LookAlike), Der(Ca::LookAlikeIntermediate),
                                                           Der(Ca::LookAlikeRoot)}));
    EXPECT_FALSE(fs::exists(served_.storeDir() / "CA"));

    const UniqueCertChain first = Chain(Der(Tsa::AiaOnly));
    EXPECT_EQ(first->TrustStatus.dwErrorStatus, CERT_TRUST_NO_ERROR);
    EXPECT_EQ(Elements(*first), (std::vector<std::string>{Der(Tsa::AiaOnly), Der(Ca::AiaIntermediate), Der(Ca::Root)}));
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);
    EXPECT_EQ(served_.server().requestCount("/aia/root.cer"), 0u);

    // Kept in "CA" as DER, where the next chain finds it without a download.
    const CertContext& kept = *first->rgpChain[0].rgpElement[1].pCertContext;
    EXPECT_EQ(kept.storeName, "CA");
    EXPECT_EQ(kept.file.parent_path(), served_.storeDir() / "CA");
    EXPECT_EQ(test::ReadFileBytes(kept.file), Der(Ca::AiaIntermediate));
    const UniqueCertChain second = Chain(Der(Tsa::AiaOnly));
    EXPECT_EQ(second->TrustStatus.dwErrorStatus, CERT_TRUST_NO_ERROR);
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);
}

TEST_F(gathering_ChainEngine, EveryFailureSetsItsErrorBit) {
    const struct {
        const char* what;
        Tsa tsa;
        bool intermediateInCa, rootInRoot;
        uint32_t flags;
        const char* failingPath;  // answered with 404
        uint32_t errors;
        size_t length;
    } cases[] = {
        {"trusted", Tsa::Good, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"PEM CRL", Tsa::PemCrl, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"root only in ROOT, intermediate fetched", Tsa::Good, false, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT,
         nullptr, CERT_TRUST_NO_ERROR, 3},
        {"no root in ROOT", Tsa::Good, true, false, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr,
         CERT_TRUST_IS_UNTRUSTED_ROOT, 3},
        {"revoked", Tsa::Revoked, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr, CERT_TRUST_IS_REVOKED, 3},
        {"revoked, not checked", Tsa::Revoked, true, true, 0, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"expired", Tsa::Expired, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr,
         CERT_TRUST_IS_NOT_TIME_VALID, 3},
        {"not yet valid", Tsa::NotYetValid, true, true, 0, nullptr, CERT_TRUST_IS_NOT_TIME_VALID, 3},
        {"expired CRL", Tsa::ExpiredCrl, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr,
         CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION, 3},
        {"CRL unavailable", Tsa::Good, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, "/crl/intermediate.crl",
         CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION, 3},
        {"no distribution point", Tsa::NoCdp, true, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr,
         CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 3},
        {"issuer unavailable", Tsa::Good, false, true, 0, "/aia/intermediate.cer", CERT_TRUST_IS_PARTIAL_CHAIN, 1},
        {"issuer unavailable, revocation", Tsa::Good, false, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT,
         "/aia/intermediate.cer", CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 1},
        {"self-signed, not in ROOT", Tsa::SelfIssued, false, true, CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr,
         CERT_TRUST_IS_UNTRUSTED_ROOT, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClearStores();
        served_.server().clearPath("/crl/intermediate.crl");
        served_.server().clearPath("/aia/intermediate.cer");
        served_.server().serveFile("/crl/intermediate.crl", served_.pki().CrlBytes(fixtures::Crl::Intermediate));
        served_.server().serveFile("/aia/intermediate.cer", Der(Ca::Intermediate));
        if (c.failingPath != nullptr) served_.server().setStatus(c.failingPath, 404);
        if (c.intermediateInCa) served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::Intermediate);
        if (c.rootInRoot) served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root);

        const UniqueCertChain chain = Chain(Der(c.tsa), c.flags);
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, c.errors);
        EXPECT_EQ(chain->rgpChain.at(0).TrustStatus.dwErrorStatus, c.errors);
        EXPECT_EQ(chain->rgpChain.at(0).rgpElement.size(), c.length);
    }
}

TEST_F(gathering_ChainEngine, CyclicAndSelfReferencingCaStoresEnd) {
    // A and B name and sign each other; X names itself but is signed by another key.
    const X509Ptr stubB = Cert("B", "b", nullptr, "b"), stubX = Cert("X", "x", nullptr, "x");
    const X509Ptr a = Cert("A", "a", stubB.get(), "b"), b = Cert("B", "b", a.get(), "a"),
                  x = Cert("X", "x", stubX.get(), "other");
    const std::string certA = x509::CertDer(a.get()), certB = x509::CertDer(b.get()), certX = x509::CertDer(x.get());
    fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Ca, "a.cer", certA);
    fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Ca, "b.cer", certB);
    fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Ca, "x.cer", certX);

    const std::string underA = x509::CertDer(Cert("end A", "end", a.get(), "a", false).get());
    const UniqueCertChain cyclic = Chain(underA, 0);
    EXPECT_EQ(cyclic->TrustStatus.dwErrorStatus, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC);
    EXPECT_EQ(Elements(*cyclic), (std::vector<std::string>{underA, certA, certB}));

    const std::string underX = x509::CertDer(Cert("end X", "end", x.get(), "x", false).get());
    // X names itself as issuer, but its own key does not verify it.
    const UniqueCertChain selfReferencing = Chain(underX, 0);
    EXPECT_EQ(selfReferencing->TrustStatus.dwErrorStatus,
              CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_SIGNATURE_VALID);
    EXPECT_EQ(Elements(*selfReferencing), (std::vector<std::string>{underX, certX}));
}

TEST_F(gathering_ChainEngine, AChainLongerThanTheBoundEndsAsPartial) {
    // root <- ca1 <- ... <- ca11 <- end: the root is 13th, beyond the bound.
    std::vector<X509Ptr> cas;
    cas.push_back(Cert("ca0", "ca0", nullptr, "ca0"));
    fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Root, "ca0.cer", x509::CertDer(cas[0].get()));
    for (int i = 1; i <= 11; ++i) {
        const std::string name = "ca" + std::to_string(i);
        cas.push_back(Cert(name, name, cas.back().get(), "ca" + std::to_string(i - 1)));
        fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Ca, name + ".cer",
                                                    x509::CertDer(cas.back().get()));
    }
    const std::string end = x509::CertDer(Cert("end", "end", cas.back().get(), "ca11", false).get());
    const UniqueCertChain chain = Chain(end, 0);
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_EXCEEDS_LENGTH_LIMIT);
    EXPECT_EQ(chain->rgpChain[0].rgpElement.size(), kMaxChainLength);
}

TEST_F(gathering_ChainEngine, ACertificateNamingManyIssuerUrlsIsTriedAtFewOfThem) {
    const UniqueCertChain chain = Chain(Der(Tsa::ManyIssuerUrls), 0);  // every URL answers 404 at once
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, CERT_TRUST_IS_PARTIAL_CHAIN);
    size_t tried = 0;
    for (const std::string& path : fixtures::FixturePki::ManyIssuerUrlPaths())
        tried += served_.server().requestCount(path);
    EXPECT_EQ(tried, kMaxIssuerUrls);
}

TEST_F(gathering_ChainEngine, RefusesWhatItCannotServe) {
    const std::string& der = Der(Tsa::Good);
    const UniqueCertContext context(
        CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(der), static_cast<uint32_t>(der.size())));
    CERT_CHAIN_PARA parameters;
    PCCERT_CHAIN_CONTEXT chain = reinterpret_cast<PCCERT_CHAIN_CONTEXT>(&parameters);
    int engine = 0;
    EXPECT_FALSE(CertGetCertificateChain(&engine, context.get(), nullptr, nullptr, &parameters, 0, nullptr, &chain));
    EXPECT_EQ(chain, nullptr);
    EXPECT_FALSE(CertGetCertificateChain(nullptr, nullptr, nullptr, nullptr, &parameters, 0, nullptr, &chain));
    char usage[] = "1.3.6.1.5.5.7.3.8";
    char* usages[] = {usage};
    parameters.RequestedUsage = {0, 1, usages};
    EXPECT_FALSE(CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, &parameters, 0, nullptr, &chain));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

}  // namespace
