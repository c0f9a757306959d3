// The verification engine with a caller's CRL buffer against the served fixture PKI.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "verify/verify_test_support.h"
#include "zorbelcomm.h"

namespace {

using namespace zorbelu;
using fixtures::Crl;
using fixtures::Damage;
using fixtures::Digest;
using fixtures::Tsa;
using fixtures::TokenSpec;

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

}  // namespace
