// The verifications of the whole certificate path, full and by policy, against the served fixture PKI.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "verify/verify_test_support.h"

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Damage;
using fixtures::Digest;
using fixtures::Store;
using fixtures::TokenSpec;
using fixtures::Tsa;

class FullVerification : public ::testing::Test {
protected:
    void SetUp() override {
        served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root);
        served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::Intermediate);
    }
    void TearDown() override { unsetenv("ZORBELU_TEST_NOW"); }

    uint32_t Full(const std::string& token, ZORBELUCRLCacheStore* cache = nullptr) {
        const ZORBELUBlob blob = test::Blob(token);
        const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
        return ZORBELUVerifyTimeStampTokenEx2(&blob, &digest, 3000, nullptr, cache);
    }

    uint32_t ByPolicy(const std::string& token, uint32_t policy, Digest algorithm = Digest::Sha256,
                      ZORBELUCRLCacheStore* cache = nullptr) {
        const ZORBELUBlob blob = test::Blob(token);
        const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served_.pki(), algorithm);
        return ZORBELUVerifyTimeStampTokenByPolicy(&blob, &digest, 3000, nullptr, cache, policy);
    }

    size_t Downloads(Crl crl) { return served_.server().requestCount(served_.crlPath(crl)); }

    test::ServedPki served_;
};

// A good token through every call; the policy calls' arguments, long digests and the current document.
TEST_F(FullVerification, AGoodTokenThroughEveryCallAndTheirArguments) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    const ZORBELUBlob blob = test::Blob(token);
    const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served_.pki());
    EXPECT_EQ(Full(token), ZORBELU_VS_OK);
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx3(&blob, &digest, 0, nullptr, nullptr), ZORBELU_VS_OK);
    for (const uint32_t policy : {1u, 2u, 3u}) EXPECT_EQ(ByPolicy(token, policy), ZORBELU_VS_OK) << policy;
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenByPolicy(&blob, &digest, &digest, nullptr, 0, nullptr, 1), ZORBELU_VS_OK);
    ZORBELUDigestInfoEx edited = digest;
    edited.digest[31] ^= 0x80;
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenByPolicy(&blob, &digest, &edited, nullptr, 0, nullptr, 2),
              ZORBELU_VS_DOCUMENT_EDITED);

    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenByPolicy(nullptr, nullptr, nullptr, nullptr, 0, nullptr, 4), ZORBELU_VS_OK);
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenByPolicy(nullptr, nullptr, nullptr, nullptr, 0, nullptr, 5),
              ZORBELU_ERR_PARAM);
    for (const uint32_t policy : {0u, 4u, 5u})
        EXPECT_EQ(ZORBELUVerifyTimeStampTokenByPolicy(nullptr, nullptr, 0, nullptr, nullptr, policy), ZORBELU_ERR_PARAM);

    // Long digests only through the policy calls.
    const std::string sha512 = served_.pki().MakeToken(TokenSpec(Tsa::Good, Digest::Sha512));
    EXPECT_EQ(ByPolicy(sha512, 1, Digest::Sha512), ZORBELU_VS_OK);
    const ZORBELUBlob sha512Blob = test::Blob(sha512);
    ZORBELUDigestInfo plain{};
    std::strcpy(plain.algorithmOid, fixtures::FixturePki::DigestOid(Digest::Sha512));
    plain.digestLength = 64;
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx2(&sha512Blob, &plain, 0, nullptr, nullptr), ZORBELU_ERR_DIGEST);
}

TEST_F(FullVerification, EachFailureGivesItsStatus) {
    const struct {
        const char* what;
        TokenSpec recipe;
        uint32_t full;
        uint32_t policy2;
    } cases[] = {
        {"TSA certificate expired", TokenSpec(Tsa::Expired), ZORBELU_VS_CERT_EXPIRED, ZORBELU_VS_CERT_EXPIRED},
        {"TSA certificate revoked", TokenSpec(Tsa::Revoked), ZORBELU_VS_CERT_REVOKED, ZORBELU_VS_OK},
        {"CRL expired", TokenSpec(Tsa::ExpiredCrl), ZORBELU_VS_CRL_EXPIRED, ZORBELU_VS_OK},
        {"no extended key usage", TokenSpec(Tsa::NoEku), ZORBELU_VS_CERT_INVALID, ZORBELU_VS_CERT_INVALID},
        {"intermediate without an http distribution point, fetched by AIA", TokenSpec(Tsa::UnderNoCdpIntermediate),
         ZORBELU_VS_REVOCATION_UNKNOWN, ZORBELU_VS_OK},
        {"https distribution point only", TokenSpec(Tsa::HttpsOnlyCdp), ZORBELU_VS_REVOCATION_UNKNOWN,
         ZORBELU_VS_OK},
        {"signature damaged", [] { TokenSpec s(Tsa::Good); s.damage = Damage::FlipSignatureByte; return s; }(),
         ZORBELU_VS_DATA_DAMAGED, ZORBELU_VS_DATA_DAMAGED},
        // The core's ESS verdict is its own code; a verification reports it as damage.
        {"signing-certificate attribute names another certificate",
         [] { TokenSpec s(Tsa::Good); s.forgery = fixtures::Forgery::EssWrongHash; return s; }(),
         ZORBELU_VS_DATA_DAMAGED, ZORBELU_VS_DATA_DAMAGED},
    };
    for (const auto& c : cases) {
        const std::string token = served_.pki().MakeToken(c.recipe);
        EXPECT_EQ(Full(token), c.full) << c.what;
        EXPECT_EQ(ByPolicy(token, 2), c.policy2) << c.what;
    }
}

TEST_F(FullVerification, AnIntermediateWithoutHttpDistributionPointFailsPolicyOne) {
    served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::NoCdpIntermediate);
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::UnderNoCdpIntermediate));
    EXPECT_EQ(ByPolicy(token, 1), ZORBELU_VS_REVOCATION_UNKNOWN);
    EXPECT_EQ(ByPolicy(token, 2), ZORBELU_VS_OK);
}

TEST_F(FullVerification, AnIntermediateReachableOnlyThroughAiaVerifiesAfterTheSecondWalk) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::AiaOnly));
    EXPECT_EQ(Full(token), ZORBELU_VS_OK);
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);
    EXPECT_EQ(Full(token), ZORBELU_VS_OK);  // now in "CA": no second download
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);
}

// A forged intermediate never stands in for the genuine one: neither fetched into "CA" nor planted there.
TEST_F(FullVerification, AForgedIntermediateNeverStandsInForTheGenuineOne) {
    const std::filesystem::path ca = served_.storeDir() / "CA";
    const std::string forged = served_.pki().MakeToken(TokenSpec(Tsa::LookAlike));
    const std::string genuine = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    const auto files = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(ca)) names.push_back(entry.path().filename());
        return names;
    };
    const struct {
        const char* what;
        std::function<void()> prepare;
        bool forgedFirst;  // the forger's token verified first: it must fail and write nothing
    } cases[] = {
        {"the genuine intermediate reached through caIssuers only",
         [&] { std::filesystem::remove(ca / "intermediate.cer"); }, true},
        // Planted by hand, the forged certificate is an anchor the user chose: only the genuine token is asked.
        {"the forged intermediate planted first",
         [&] { fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Ca, "a-forged.cer",
                                                           served_.pki().CertDer(Ca::LookAlikeIntermediate)); },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(ca);
        served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::Intermediate);
        c.prepare();
        if (c.forgedFirst) {
            const std::vector<std::string> before = files();
            EXPECT_NE(Full(forged), ZORBELU_VS_OK);
            for (const uint32_t policy : {1u, 2u}) EXPECT_NE(ByPolicy(forged, policy), ZORBELU_VS_OK);
            EXPECT_EQ(files(), before);
        }
        EXPECT_EQ(Full(genuine), ZORBELU_VS_OK);
        for (const uint32_t policy : {1u, 2u}) EXPECT_EQ(ByPolicy(genuine, policy), ZORBELU_VS_OK);
    }
}

// The caller's time limit bounds all downloads of one call, however many slow URLs the certificates name.
TEST_F(FullVerification, EveryDownloadOfACallEndsWithinItsTimeLimit) {
    constexpr uint32_t kLimitMs = 1000;
    const auto slow = [&](const std::vector<std::string>& paths) {
        for (const std::string& path : paths) served_.server().setDelay(path, std::chrono::milliseconds(700));
    };
    const auto stallManyUrls = [&] { served_.StallManyIssuerUrls(std::chrono::seconds(30)); };
    const std::string intermediateCrl = served_.crlPath(Crl::Intermediate), rootCrl = served_.crlPath(Crl::Root);
    const struct {
        const char* what;
        Tsa tsa;
        std::function<void()> prepare;
        bool byPolicy;  // else the full verification
        uint32_t expected;
    } cases[] = {
        {"50 stalling caIssuers URLs", Tsa::ManyIssuerUrls, stallManyUrls, false, ZORBELU_VS_CERT_UNTRUSTED},
        {"50 stalling caIssuers URLs", Tsa::ManyIssuerUrls, stallManyUrls, true, ZORBELU_VS_CERT_UNTRUSTED},
        {"two CRLs, each slow but within the limit", Tsa::Good, [&] { slow({intermediateCrl, rootCrl}); }, true,
         ZORBELU_ERR_COMM_TIMEOUT},
        // The intermediate is kept; the end certificate's revocation could not be learnt in time.
        {"the intermediate through caIssuers, then its CRL in the chain engine, each slow", Tsa::Good,
         [&] {
             std::filesystem::remove_all(served_.storeDir() / "CA");
             slow({"/aia/intermediate.cer", intermediateCrl});
         },
         false, ZORBELU_VS_CERT_UNTRUSTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        const std::string token = served_.pki().MakeToken(TokenSpec(c.tsa));
        const ZORBELUBlob blob = test::Blob(token);
        const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
        const ZORBELUDigestInfoEx digestEx = test::DigestRecordEx(served_.pki());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.byPolicy ? ZORBELUVerifyTimeStampTokenByPolicy(&blob, &digestEx, kLimitMs, nullptr, nullptr, 1)
                             : ZORBELUVerifyTimeStampTokenEx2(&blob, &digest, kLimitMs, nullptr, nullptr),
                  c.expected);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), kLimitMs + 1000);
    }
}

TEST_F(FullVerification, WithoutARootTheChainIsUntrusted) {
    std::filesystem::remove_all(served_.storeDir() / "ROOT");
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    EXPECT_EQ(Full(token), ZORBELU_VS_CERT_UNTRUSTED);
    EXPECT_EQ(ByPolicy(token, 2), ZORBELU_VS_CERT_UNTRUSTED);
    EXPECT_EQ(ByPolicy(token, 3), ZORBELU_VS_OK);  // policy 3 gives the core no store: integrity alone
}

TEST_F(FullVerification, PoliciesTwoAndThreeDownloadNothingAndLookAtNoConnection) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    const ZORBELUBlob blob = test::Blob(token);
    const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served_.pki());
    ZORBELUProxyInfo refused{};
    refused.proxyMode = 5;
    for (const uint32_t policy : {2u, 3u})
        EXPECT_EQ(ZORBELUVerifyTimeStampTokenByPolicy(&blob, &digest, 0, &refused, nullptr, policy), ZORBELU_VS_OK);
    EXPECT_EQ(Downloads(Crl::Intermediate) + Downloads(Crl::Root), 0u);
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenByPolicy(&blob, &digest, 0, &refused, nullptr, 1), ZORBELU_ERR_PARAM);
}

TEST_F(FullVerification, ASharedCacheDownloadsEachCrlOnceAndNoCacheEveryTime) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    ZORBELUCRLCacheStore* cache = nullptr;
    ASSERT_EQ(ZORBELUCreateCRLCacheStore(&cache), ZORBELU_OK);
    EXPECT_EQ(Full(token, cache), ZORBELU_VS_OK);
    EXPECT_EQ(ByPolicy(token, 1, Digest::Sha256, cache), ZORBELU_VS_OK);
    EXPECT_EQ(Downloads(Crl::Intermediate), 1u);
    EXPECT_EQ(Downloads(Crl::Root), 1u);
    // Once nextUpdate has passed, each CRL is fetched again (the server still has only that one).
    setenv("ZORBELU_TEST_NOW", std::to_string(served_.pki().Now() + 8 * 86400).c_str(), 1);
    EXPECT_EQ(Full(token, cache), ZORBELU_VS_CRL_EXPIRED);
    EXPECT_EQ(Downloads(Crl::Intermediate) + Downloads(Crl::Root), 4u);
    unsetenv("ZORBELU_TEST_NOW");
    EXPECT_EQ(ZORBELUFreeCRLCacheStore(cache), ZORBELU_OK);
    EXPECT_EQ(Full(token), ZORBELU_VS_OK);
    EXPECT_EQ(Full(token), ZORBELU_VS_OK);
    EXPECT_EQ(Downloads(Crl::Intermediate), 4u);
}

TEST_F(FullVerification, ASelfIssuedTsaCertificateIsJudgedByTheCoreAlone) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::SelfIssued));
    EXPECT_EQ(Full(token), ZORBELU_VS_CERT_UNTRUSTED);
    EXPECT_EQ(ByPolicy(token, 1), ZORBELU_VS_OK);  // no store: integrity only
    served_.pki().InstallInStore(served_.storeDir(), Store::Root, Tsa::SelfIssued);
    EXPECT_EQ(Full(token), ZORBELU_VS_OK);
    EXPECT_EQ(Downloads(Crl::Intermediate) + Downloads(Crl::Root), 0u);
}

TEST_F(FullVerification, ConnectionFailuresReachTheCaller) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    served_.server().setDelay(served_.crlPath(Crl::Intermediate), std::chrono::seconds(3));
    const ZORBELUBlob blob = test::Blob(token);
    const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx2(&blob, &digest, 200, nullptr, nullptr), ZORBELU_ERR_COMM_TIMEOUT);
    served_.server().stop();
    EXPECT_EQ(Full(token), ZORBELU_ERR_COMM_CONNECT);
}

// With every cache warm, each call still gives the verdict of the stores, CRLs and clock as they are then.
TEST_F(FullVerification, AWarmVerificationFollowsEveryChangeOfStoresAndClock) {
    const std::string good = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    const std::string revoked = served_.pki().MakeToken(TokenSpec(Tsa::Revoked));
    const std::filesystem::path rootFile = served_.storeDir() / "ROOT" / "root.cer";
    const auto setClock = [&](long offset) {
        setenv("ZORBELU_TEST_NOW", std::to_string(served_.pki().Now() + offset).c_str(), 1);
    };
    const long kPastNextUpdate = 8 * 86400;  // the CRLs run to now + 7 days
    const struct {
        const char* what;
        std::function<void()> change;
        const std::string& token;
        uint32_t expected;
    } steps[] = {
        {"good", [] {}, good, ZORBELU_VS_OK},
        {"revoked", [] {}, revoked, ZORBELU_VS_CERT_REVOKED},
        {"root removed", [&] { std::filesystem::remove(rootFile); }, good, ZORBELU_VS_CERT_UNTRUSTED},
        {"root back", [&] { served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root); }, good,
         ZORBELU_VS_OK},
        {"root file holding another certificate",
         [&] { fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Root, "root.cer",
                                                           served_.pki().CertDer(Ca::Intermediate)); },
         good,
         ZORBELU_VS_CERT_UNTRUSTED},
        {"root file holding the root again",
         [&] { served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root); }, good, ZORBELU_VS_OK},
        {"clock past the CRL's nextUpdate", [&] { setClock(kPastNextUpdate); }, good, ZORBELU_VS_CRL_EXPIRED},
        {"revoked, clock past the CRL's nextUpdate", [] {}, revoked, ZORBELU_VS_CRL_EXPIRED},
        {"clock back", [&] { setClock(0); }, revoked, ZORBELU_VS_CERT_REVOKED},
        {"good, clock back", [] {}, good, ZORBELU_VS_OK},
    };
    ZORBELUCRLCacheStore* cache = nullptr;
    ASSERT_EQ(ZORBELUCreateCRLCacheStore(&cache), ZORBELU_OK);
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(Full(step.token, cache), step.expected) << step.what;
    }
    EXPECT_EQ(ZORBELUFreeCRLCacheStore(cache), ZORBELU_OK);
}

}  // namespace
