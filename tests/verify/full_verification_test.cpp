// The verifications of the whole certificate path (full, by policy, with a caller's CRL buffer) and the verdicts on
// a TSA certificate, against the served fixture PKI; tokens made locally and by a TSA over HTTP.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "verify/verify_test_support.h"
#include "zorbel.h"
#include "zorbelcomm.h"

std::ostream& operator<<(std::ostream& out, const ZORBELUTSACertResult& r) {
    return out << "{" << r.validity << ", " << r.revocation << ", " << r.chain << "}";
}

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

class CrlBufferEngine : public ::testing::Test {
protected:
    void SetUp() override { test::TrustRootAndIntermediate(served_); }
    void TearDown() override { unsetenv("ZORBELU_TEST_NOW"); }

    uint32_t Verify(const std::string& token, ZORBELUCRLBuffer* crlBuffer = nullptr) {
        const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
        const ZORBELUBlob blob = test::Blob(token);
        return ZORBELUVerifyTimeStampToken(&blob, &digest, crlBuffer, 3000);
    }

    size_t CrlDownloads() { return served_.server().requestCount(served_.crlPath(Crl::Intermediate)); }

    test::ServedPki served_;
};

TEST_F(CrlBufferEngine, AGoodTokenVerifiesThroughEveryCallOfTheFamily) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    const ZORBELUBlob blob = test::Blob(token);
    const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
    ZORBELUProxyInfo proxy{};
    proxy.credentialMode = ZORBELU_CREDENTIALS_NONE;
    EXPECT_EQ(ZORBELUVerifyTimeStampToken(&blob, &digest, nullptr, 0), ZORBELU_VS_OK);
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx(&blob, &digest, nullptr, 0, &proxy), ZORBELU_VS_OK);
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx(&blob, &digest, nullptr, 0, nullptr), ZORBELU_VS_OK);
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenEx(&blob, &digest, &digest, nullptr, 0), ZORBELU_VS_OK);
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenEx2(&blob, &digest, nullptr, nullptr, 0, &proxy), ZORBELU_VS_OK);
    // The current document is compared only through the private calls.
    ZORBELUDigestInfo edited = digest;
    edited.digest[0] ^= 1;
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenEx(&blob, &digest, &edited, nullptr, 0), ZORBELU_VS_DOCUMENT_EDITED);
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr, 0), ZORBELU_VS_OK);
    const ZORBELUDigestInfo sha1 = test::DigestRecord(served_.pki(), Digest::Sha1);
    EXPECT_EQ(ZORBELUPRVVerifyTimeStampTokenEx(&blob, &digest, &sha1, nullptr, 0), ZORBELU_ERR_PARAM);
}

TEST_F(CrlBufferEngine, EachFailureGivesItsStatus) {
    const struct {
        const char* what;
        TokenSpec recipe;
        uint32_t expected;
    } cases[] = {
        {"TSA certificate expired", TokenSpec(Tsa::Expired), ZORBELU_VS_CERT_EXPIRED},
        {"TSA certificate not yet valid", TokenSpec(Tsa::NotYetValid), ZORBELU_VS_CERT_EXPIRED},
        {"https distribution point only", TokenSpec(Tsa::HttpsOnlyCdp), ZORBELU_VS_CERT_INVALID},
        {"LDAP distribution point only", TokenSpec(Tsa::LdapOnlyCdp), ZORBELU_VS_CERT_INVALID},
        {"no distribution point", TokenSpec(Tsa::NoCdp), ZORBELU_VS_CERT_INVALID},
        {"no extended key usage", TokenSpec(Tsa::NoEku), ZORBELU_VS_CERT_INVALID},
        {"TSA certificate revoked", TokenSpec(Tsa::Revoked), ZORBELU_VS_CERT_REVOKED},
        {"CRL expired", TokenSpec(Tsa::ExpiredCrl), ZORBELU_VS_CRL_EXPIRED},
        {"issuer is no trusted root", TokenSpec(Tsa::AiaOnly), ZORBELU_VS_CERT_UNTRUSTED},
        {"signature damaged", [] { TokenSpec s(Tsa::Good); s.damage = Damage::FlipSignatureByte; return s; }(),
         ZORBELU_VS_DATA_DAMAGED},
        {"other data stamped", [] { TokenSpec s(Tsa::Good); s.imprint = std::string(32, '\x42'); return s; }(),
         ZORBELU_VS_DATA_DAMAGED},
        {"other algorithm stamped", TokenSpec(Tsa::Good, Digest::Sha1), ZORBELU_VS_DATA_DAMAGED},
        {"ldap, then http in one point", TokenSpec(Tsa::LdapThenHttpCdp), ZORBELU_VS_OK},
        {"https in one point, http in the next", TokenSpec(Tsa::HttpsThenHttpCdp), ZORBELU_VS_OK},
        {"PEM CRL", TokenSpec(Tsa::PemCrl), ZORBELU_VS_OK},
        {"directly under the root", TokenSpec(Tsa::UnderRoot), ZORBELU_VS_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(Verify(served_.pki().MakeToken(c.recipe)), c.expected) << c.what;
}

TEST_F(CrlBufferEngine, TruncatedAndMissingCertificatesAreRefusedBeforeAnyDownload) {
    TokenSpec truncated(Tsa::Good);
    truncated.damage = Damage::Truncate;
    EXPECT_EQ(Verify(served_.pki().MakeToken(truncated)), ZORBELU_VS_DATA_DAMAGED);
    TokenSpec withoutCertificate(Tsa::Good);
    withoutCertificate.includeTsaCert = false;
    EXPECT_EQ(Verify(served_.pki().MakeToken(withoutCertificate)), ZORBELU_ERR_TSA_CERT);
    EXPECT_EQ(CrlDownloads(), 0u);
}

TEST_F(CrlBufferEngine, ASelfIssuedTsaCertificateNeedsNoStoreAndNoCrl) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::SelfIssued));
    EXPECT_EQ(Verify(token), ZORBELU_VS_CERT_UNTRUSTED);  // not in "ROOT"
    served_.pki().InstallInStore(served_.storeDir(), fixtures::Store::Root, Tsa::SelfIssued);
    EXPECT_EQ(Verify(token), ZORBELU_VS_OK);
    EXPECT_EQ(served_.server().requestCount(served_.crlPath(Crl::Root)), 0u);
    EXPECT_EQ(CrlDownloads(), 0u);
}

// A held CRL is used while current, then replaced by the new one; with the server gone the record is emptied.
TEST_F(CrlBufferEngine, AHeldCrlIsUsedUntilItExpiresThenReplaced) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    std::vector<uint8_t> memory(20000);
    ZORBELUCRLBuffer buffer{0, memory.data(), static_cast<uint32_t>(memory.size()), 0, ZORBELU_ENCODING_DETECT};
    ASSERT_EQ(Verify(token, &buffer), ZORBELU_VS_OK);
    EXPECT_EQ(buffer.state, 1u);
    EXPECT_EQ(buffer.encoding, ZORBELU_ENCODING_DER);
    EXPECT_EQ(buffer.crlLength, served_.pki().CrlBytes(Crl::Intermediate).size());
    EXPECT_EQ(Verify(token, &buffer), ZORBELU_VS_OK);
    EXPECT_EQ(CrlDownloads(), 1u);

    const time_t later = served_.pki().Now() + 8 * 86400;  // the CA has published a new CRL by then
    test::TempDir folder;
    fixtures::FixtureOptions options;
    options.baseUrl = served_.pki().BaseUrl();
    options.now = later;
    const auto laterPki = fixtures::FixturePki::Create(folder.path(), options);
    served_.server().serveFile(served_.crlPath(Crl::Intermediate), laterPki.CrlBytes(Crl::Intermediate));
    setenv("ZORBELU_TEST_NOW", std::to_string(later).c_str(), 1);
    EXPECT_EQ(Verify(token, &buffer), ZORBELU_VS_OK);
    EXPECT_EQ(CrlDownloads(), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(memory.data()), buffer.crlLength),
              laterPki.CrlBytes(Crl::Intermediate));

    served_.server().stop();
    setenv("ZORBELU_TEST_NOW", std::to_string(later + 8 * 86400).c_str(), 1);
    EXPECT_EQ(Verify(token, &buffer), ZORBELU_ERR_COMM_CONNECT);
    EXPECT_EQ(buffer.state, 0u);
}

TEST_F(CrlBufferEngine, ACrlThatDoesNotFitTheCallersBufferUsesTheLibrarysOwn) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    std::vector<uint8_t> memory(100);
    ZORBELUCRLBuffer buffer{0, memory.data(), static_cast<uint32_t>(memory.size()), 0, ZORBELU_ENCODING_DETECT};
    EXPECT_EQ(Verify(token, &buffer), ZORBELU_VS_OK);
    EXPECT_EQ(buffer.bufferSize, 0u);
    EXPECT_EQ(buffer.state, 0u);
    EXPECT_EQ(buffer.crlLength, 0u);
    EXPECT_EQ(buffer.encoding, ZORBELU_ENCODING_DETECT);
    EXPECT_EQ(Verify(token, &buffer), ZORBELU_ERR_PARAM);  // until the caller gives it room again

    // A large CRL grows the library's buffer 10,000 bytes at a time.
    EXPECT_EQ(Verify(served_.pki().MakeToken(TokenSpec(Tsa::LargeCrl))), ZORBELU_VS_OK);
}

TEST_F(CrlBufferEngine, ConnectionFailuresReachTheCaller) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    served_.server().setDelay(served_.crlPath(Crl::Intermediate), std::chrono::seconds(3));
    const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
    const ZORBELUBlob blob = test::Blob(token);
    EXPECT_EQ(ZORBELUVerifyTimeStampToken(&blob, &digest, nullptr, 200), ZORBELU_ERR_COMM_TIMEOUT);

    served_.server().clearPath(served_.crlPath(Crl::Intermediate));
    served_.server().serveFile(served_.crlPath(Crl::Intermediate), served_.pki().CrlBytes(Crl::Intermediate));
    served_.server().requireBasicAuth(served_.crlPath(Crl::Intermediate), "user", "secret");
    EXPECT_EQ(Verify(token), ZORBELU_VS_REVOCATION_UNKNOWN);  // no credentials configured
    // Credentials go along in every proxy mode (the system's settings name no proxy here).
    for (const uint32_t mode : {ZORBELU_PROXY_DIRECT, ZORBELU_PROXY_SYSTEM}) {
        SCOPED_TRACE(mode);
        ZORBELUProxyInfo proxy{};
        proxy.proxyMode = mode;
        proxy.credentialMode = ZORBELU_CREDENTIALS_GIVEN;
        std::strcpy(proxy.credential1, "user");
        std::strcpy(proxy.credential2, "wrong");
        EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx(&blob, &digest, nullptr, 0, &proxy), ZORBELU_ERR_COMM_SERVER_AUTH);
        std::strcpy(proxy.credential2, "secret");
        EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx(&blob, &digest, nullptr, 0, &proxy), ZORBELU_VS_OK);
    }

    served_.server().stop();
    EXPECT_EQ(Verify(token), ZORBELU_ERR_COMM_CONNECT);
}

TEST_F(CrlBufferEngine, RequestRecordsAreRefusedBeforeAnyWork) {
    const std::string token = served_.pki().MakeToken(TokenSpec(Tsa::Good));
    const ZORBELUBlob blob = test::Blob(token);
    const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
    ZORBELUDigestInfo shortSha256 = digest;
    shortSha256.digestLength = 20;
    uint8_t memory[10];
    ZORBELUCRLBuffer badEncoding{1, memory, sizeof memory, 5, 4};
    ZORBELUProxyInfo badProxy{};
    badProxy.proxyMode = 5;
    ZORBELUProxyInfo badWindow{};
    badWindow.credentialMode = ZORBELU_CREDENTIALS_NONE;
    badWindow.ownerWindow = reinterpret_cast<ZORBELU_HWND>(&badWindow);
    const ZORBELUBlob empty{nullptr, 0};
    EXPECT_EQ(ZORBELUVerifyTimeStampToken(&empty, &digest, nullptr, 0), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUVerifyTimeStampToken(&blob, nullptr, nullptr, 0), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUVerifyTimeStampToken(&blob, &shortSha256, nullptr, 0), ZORBELU_ERR_DIGEST);
    EXPECT_EQ(ZORBELUVerifyTimeStampToken(&blob, &digest, &badEncoding, 0), ZORBELU_ERR_CRL_ENCODING);
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx(&blob, &digest, nullptr, 0, &badProxy), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUVerifyTimeStampTokenEx(&blob, &digest, nullptr, 0, &badWindow), ZORBELU_ERR_WINDOW);
    EXPECT_EQ(CrlDownloads(), 0u);
}

class TsaCertificateVerdicts : public FullVerification {
protected:

    ZORBELUCertBlob Blob(Tsa tsa) {
        const std::string& der = served_.pki().CertDer(tsa);
        return {reinterpret_cast<uint8_t*>(const_cast<char*>(der.data())), static_cast<uint32_t>(der.size()), 1};
    }

    uint32_t Judge(Tsa tsa, ZORBELUTSACertResult* result) {
        const ZORBELUCertBlob cert = Blob(tsa);
        return ZORBELUVerifyTSACertificate(&cert, nullptr, 3000, nullptr, result);
    }
};

struct Verdicts {
    uint32_t validity, revocation, chain;
};

bool operator==(const ZORBELUTSACertResult& r, const Verdicts& v) {
    return r.validity == v.validity && r.revocation == v.revocation && r.chain == v.chain;
}

TEST_F(TsaCertificateVerdicts, EachKindOfCertificateNow) {
    const struct {
        Tsa tsa;
        Verdicts expected;
    } cases[] = {
        {Tsa::Good, {1, 2513, 2515}},
        {Tsa::Revoked, {1, 2504, 2515}},
        {Tsa::Expired, {2502, 2506, 2515}},  // the chain judged one second before notAfter
        {Tsa::NotYetValid, {2502, 2506, 2515}},  // judged at its last second too
        {Tsa::HttpsOnlyCdp, {1, 2514, 2515}},
        {Tsa::ExpiredCrl, {1, 2505, 2515}},
        {Tsa::AiaOnly, {1, 2513, 2515}},
    };
    for (const auto& c : cases) {
        ZORBELUTSACertResult result{9, 9, 9};
        EXPECT_EQ(Judge(c.tsa, &result), ZORBELU_OK) << fixtures::FixturePki::Name(c.tsa);
        EXPECT_TRUE(result == c.expected) << fixtures::FixturePki::Name(c.tsa) << ": " << result;
    }
}

TEST_F(TsaCertificateVerdicts, UntrustedSelfIssuedAndUnobtainableCrls) {
    ZORBELUTSACertResult result{};
    EXPECT_EQ(Judge(Tsa::SelfIssued, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2516})) << result;
    served_.pki().InstallInStore(served_.storeDir(), Store::Root, Tsa::SelfIssued);
    EXPECT_EQ(Judge(Tsa::SelfIssued, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2515})) << result;

    served_.server().setStatus(served_.crlPath(Crl::Intermediate), 404);
    EXPECT_EQ(Judge(Tsa::Good, &result), ZORBELU_OK);
    EXPECT_EQ(result.revocation, ZORBELU_VS_CRL_UNAVAILABLE);
    EXPECT_EQ(result.chain, ZORBELU_VS_CERT_SIGNATURE_OK);

    served_.server().stop();
    EXPECT_EQ(Judge(Tsa::Good, &result), ZORBELU_ERR_COMM_CONNECT);  // the record is filled all the same
    EXPECT_EQ(result.revocation, ZORBELU_VS_CRL_UNAVAILABLE);
    EXPECT_EQ(result.validity, ZORBELU_OK);
}

// The time limit bounds caIssuers and CRL downloads together, however many slow URLs there are.
TEST_F(TsaCertificateVerdicts, AllDownloadsEndWithinTheTimeLimit) {
    served_.StallManyIssuerUrls(std::chrono::seconds(30));
    served_.server().setDelay(served_.crlPath(Crl::AiaIntermediate), std::chrono::seconds(30));
    const ZORBELUCertBlob cert = Blob(Tsa::ManyIssuerUrls);
    ZORBELUTSACertResult result{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ZORBELUVerifyTSACertificate(&cert, nullptr, 1000, nullptr, &result), ZORBELU_OK);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 1000 + 1000);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2516})) << result;
}

TEST_F(TsaCertificateVerdicts, NoRootInTheStores) {
    test::ServedPki bare;
    const std::string& der = bare.pki().CertDer(Tsa::Good);
    const ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(const_cast<char*>(der.data())),
                               static_cast<uint32_t>(der.size()), 2};
    ZORBELUTSACertResult result{};
    EXPECT_EQ(ZORBELUVerifyTSACertificate(&cert, nullptr, 3000, nullptr, &result), ZORBELU_OK);
    EXPECT_EQ(result.chain, ZORBELU_VS_ROOT_UNAVAILABLE);
}

TEST_F(TsaCertificateVerdicts, AtAGivenTimeWithTheGatheredCertificates) {
    const std::string token = served_.pki().MakeToken(fixtures::TokenSpec(Tsa::Good));
    const ZORBELUBlob blob = test::Blob(token);
    ZORBELUBlob tsaCert{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    ASSERT_EQ(ZORBELUGetCertificates(&blob, 3000, nullptr, &tsaCert, &cas, &crls), ZORBELU_OK);
    ZORBELCertStore* store = ZORBELCreateCertStore();
    for (ZORBELUCertBlob* c = cas; c->data != nullptr; ++c) ZORBELAddCACert(store, c);
    for (ZORBELUCertBlob* c = crls; c->data != nullptr; ++c) ZORBELAddCRL(store, c);

    const ZORBELUCertBlob cert = Blob(Tsa::Good);
    const int64_t now = served_.pki().Now();
    ZORBELUTSACertResult result{};
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, store, now, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2513, 2515})) << result;
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, store, 0, &result), ZORBELU_ERR_PARAM);

    ZORBELCertStore* onlyCrls = ZORBELCreateCertStore();
    ZORBELAddCRL(onlyCrls, crls);
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, onlyCrls, now, &result), ZORBELU_ERR_CDP);
    ZORBELCertStore* empty = ZORBELCreateCertStore();
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, empty, now, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2516})) << result;

    EXPECT_EQ(ZORBELFreeCertStore(empty), 1u);
    EXPECT_EQ(ZORBELFreeCertStore(onlyCrls), 1u);
    EXPECT_EQ(ZORBELFreeCertStore(store), 1u);
    EXPECT_EQ(ZORBELUFreeCertificates(&cas), ZORBELU_OK);
    EXPECT_EQ(ZORBELUFreeCertificates(&crls), ZORBELU_OK);
}

// Valid at its notBefore second, no longer at its notAfter second.
TEST_F(TsaCertificateVerdicts, ValidityEndsJustBeforeNotAfter) {
    const int64_t start = served_.pki().Now() - 30 * 86400, end = served_.pki().Now() + 730 * 86400;  // the fixture's
    ZORBELCertStore* empty = ZORBELCreateCertStore();
    const ZORBELUCertBlob cert = Blob(Tsa::Good);
    const struct {
        int64_t time;
        uint32_t validity;
    } cases[] = {{start - 1, 2502}, {start, 1}, {end - 1, 1}, {end, 2502}};
    for (const auto& c : cases) {
        ZORBELUTSACertResult result{};
        EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, empty, c.time, &result), ZORBELU_OK);
        EXPECT_EQ(result.validity, c.validity) << c.time - start;
    }
    EXPECT_EQ(ZORBELFreeCertStore(empty), 1u);
}

TEST(TokenCreation, LocalAndHttpTokensVerifyAndRefusalsPassThrough) {
    test::ServedPki served;
    test::TrustRootAndIntermediate(served);
    served.server().setTsaHandler("/tsa", [&](const std::string& request) {
        return served.pki().RespondToTimeStampRequest(request);
    });
    served.server().setStatus("/refused", 500);
    std::string first;  // the first answer, given again to every later request
    served.server().setTsaHandler("/replay", [&](const std::string& request) {
        if (first.empty()) first = served.pki().RespondToTimeStampRequest(request);
        return first;
    });
    served.server().setTsaHandler("/reject", [](const std::string&) { return std::string("\x30\x05\x30\x03\x02\x01\x02", 7); });
    served.server().setTsaHandler("/garbage", [](const std::string&) { return std::string("not der"); });
    const std::string key = served.pki().KeyPem(fixtures::Tsa::Good);
    const std::string& cert = served.pki().CertDer(fixtures::Tsa::Good);
    ZORBELTSASigner signer{};
    signer.privateKey = reinterpret_cast<const uint8_t*>(key.data());
    signer.privateKeyLength = static_cast<uint32_t>(key.size());
    signer.certificate = reinterpret_cast<const uint8_t*>(cert.data());
    signer.certificateLength = static_cast<uint32_t>(cert.size());
    std::strcpy(signer.defaultPolicyOid, "1.2.3.4.5");
    const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served.pki());
    const ZORBELUDigestInfo plain = test::DigestRecord(served.pki());
    uint32_t needed = 0;
    const auto viaHttp = [&](const char* path, std::vector<uint8_t>& token, const ZORBELUDigestInfoEx* d) {
        const std::string url = served.server().url(path);
        const ZORBELTSAConnection connection{url.c_str(), 3000, nullptr};
        ZORBELUCertBlob out{token.data(), static_cast<uint32_t>(token.size()), 0};
        const uint32_t rc = ZORBELUHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&connection), d,
                                                                reinterpret_cast<uintptr_t>(&out));
        token.resize(rc == ZORBELU_OK ? out.length : token.size());
        needed = out.length;
        return rc;
    };
    const auto verify = [&](const std::vector<uint8_t>& token) {
        const ZORBELUBlob blob{token.data(), static_cast<uint32_t>(token.size())};
        return ZORBELUVerifyTimeStampToken(&blob, &plain, nullptr, 3000);
    };

    std::vector<uint8_t> token(20000);
    ASSERT_EQ(viaHttp("/tsa", token, &digest), ZORBELU_OK);
    EXPECT_EQ(served.server().requestCount("/tsa"), 1u);
    EXPECT_EQ(verify(token), ZORBELU_VS_OK);
    const size_t httpSize = token.size();
    token.assign(20000, 0);
    ZORBELUCertBlob out{token.data(), static_cast<uint32_t>(token.size()), 0};
    ASSERT_EQ(ZORBELUCreateTimeStampToken(reinterpret_cast<uintptr_t>(&signer), ZORBEL_CREATE_TOKEN, &digest,
                                          reinterpret_cast<uintptr_t>(&out)),
              ZORBELU_OK);
    token.resize(out.length);
    EXPECT_EQ(verify(token), ZORBELU_VS_OK);

    std::vector<uint8_t> small(100);
    EXPECT_EQ(viaHttp("/refused", small, &digest), ZORBELU_ERR_COMM_FAILED);
    EXPECT_EQ(viaHttp("/tsa", small, &digest), ZORBELU_ERR_BUFFER_TOO_SMALL);
    // The size of a fresh token: its random nonce may be a byte shorter or longer.
    EXPECT_NEAR(static_cast<double>(needed), static_cast<double>(httpSize), 4.0);
    EXPECT_EQ(viaHttp("/reject", small, &digest), ZORBEL_ERR_TSA_REJECTED);
    std::vector<uint8_t> room(20000);
    EXPECT_EQ(viaHttp("/replay", room, &digest), ZORBELU_OK);
    EXPECT_EQ(viaHttp("/replay", room, &digest), ZORBEL_ERR_TSA_MISMATCH);  // granted, but to another request
    EXPECT_EQ(viaHttp("/garbage", small, &digest), ZORBEL_ERR_TSA_MISMATCH);
    EXPECT_EQ(viaHttp("/tsa", small, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUCreateTimeStampToken(0, 0, nullptr, 0), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUCreateTimeStampToken(0, 0, &digest, 0), ZORBELU_ERR_PARAM);  // the core refuses it
}

TEST(TokenCreation, UserOfTheConfiguredCredentials) {
    ZORBELUProxyInfo settings{};
    settings.credentialMode = ZORBELU_CREDENTIALS_GIVEN;
    std::strcpy(settings.credential1, "alice");
    ASSERT_EQ(ZORBELPRVSetProxy(&settings), ZORBELCOMM_OK);
    char user[520] = {};
    EXPECT_EQ(ZORBELGetUser(user), ZORBEL_OK);
    EXPECT_STREQ(user, "alice");
    settings.credentialMode = ZORBELU_CREDENTIALS_NONE;
    ASSERT_EQ(ZORBELPRVSetProxy(&settings), ZORBELCOMM_OK);
    EXPECT_EQ(ZORBELGetUser(user), ZORBEL_ERR_NO_USER);
    EXPECT_EQ(ZORBELGetUser(nullptr), ZORBEL_ERR_PARAM);
}

}  // namespace
