// Resource text and message boxes (code 1 is success: no code line), the known services, request validation.
// GeneralizedTime conversion, the zone table, algorithm codes and validity periods.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/module.h"
#include "support/fixture_x509.h"
#include "ui/message_box.h"
#include "ui/ui_headless.h"
#include "ui/windows.h"
#include "verify/request_validation.h"
#include "verify/verification_steps.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu;

// Long texts grow the buffer until they fit; the error-code line comes from the current module.
TEST(ResourceText, FromTheCurrentModuleWholeAndWithItsFormat) {
    platform::HINSTANCE module = platform::LoadLibraryA(TEST_LANGUAGE_MODULE);
    ASSERT_NE(module, nullptr);
    frame::AfxSetResourceHandle(module);
    EXPECT_EQ(frame::LoadResourceString(5900), std::string(600, 'x'));
    EXPECT_EQ(frame::LoadResourceString(5901), std::string(255, 'y'));  // exactly fills the first buffer
    EXPECT_EQ(frame::LoadResourceString(5002), "");  // the test module has only a few texts
    platform::headless::ClearRecordedMessageBoxes();
    frame::ShowMessageByText("Failed.", 1004, platform::MB_ICONSTOP);
    frame::ShowMessageByText("Done.", 1, platform::MB_OK);
    ASSERT_EQ(platform::headless::RecordedMessageBoxes().size(), 2u);
    EXPECT_EQ(platform::headless::RecordedMessageBoxes()[0].text, "Failed. [code 1004]");
    EXPECT_EQ(platform::headless::RecordedMessageBoxes()[1].text, "Done.");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(module);
}

TEST(Services, IdsOfExactPolicyIdentifiersOnly) {
    const struct {
        const char* oid;
        int32_t length;
        uint32_t result, id;
    } cases[] = {  // the length is only refused when 0
        {"0.2.440.731846.100.200.100", 26, ZORBELU_OK, 0},  {"0.2.440.731859.100.200.100", 26, ZORBELU_OK, 1},
        {"1.2.410.100001.2.1.7.2", 22, ZORBELU_OK, 2},      {"0.2.440.731846.100.200.102", 26, ZORBELU_OK, 4},
        {"0.2.440.731846.100.200.101", 5, ZORBELU_OK, 3},
        {"0.2.440.731846.100.200.101 ", 27, ZORBELU_ERR_UNKNOWN_SERVICE, 99},
        {"0.2.440.731846.100.200.10", 25, ZORBELU_ERR_UNKNOWN_SERVICE, 99},
        {"0.2.440.731846.100.200.101", 0, ZORBELU_ERR_PARAM, 99}, {nullptr, 5, ZORBELU_ERR_PARAM, 99}};
    for (const auto& c : cases) {
        uint32_t id = 99;
        EXPECT_EQ(ZORBELUGetServiceId(c.oid, c.length, &id), c.result) << (c.oid ? c.oid : "(null)") << " " << c.length;
        EXPECT_EQ(id, c.id);
    }
    EXPECT_EQ(ZORBELUGetServiceId("1.2.410.100001.2.1.7.2", 22, nullptr), ZORBELU_ERR_PARAM);
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    const ZORBELUBlob token{junk, sizeof junk};
    uint32_t id = 0;
    EXPECT_EQ(ZORBELUGetServiceIdFromTimeStampToken(nullptr, &id), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetServiceIdFromTimeStampToken(&token, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetServiceIdFromTimeStampToken(&token, &id), ZORBELU_ERR_EXCEPTION);
}

// Services 0 to 2 have an endpoint, 3 and 4 none; the records are zero-filled.
TEST(Services, TextsOfEachServiceAndNothingElse) {
    const char* policies[] = {"0.2.440.731846.100.200.100", "0.2.440.731859.100.200.100", "1.2.410.100001.2.1.7.2",
                              "0.2.440.731846.100.200.101", "0.2.440.731846.100.200.102"};
    for (uint32_t id = 0; id < 5; ++id) {
        ZORBELUServiceInfo info;
        std::memset(&info, 0x55, sizeof info);
        ASSERT_EQ(ZORBELUGetKovraServiceInfo(id, &info), ZORBELU_OK);
        EXPECT_EQ(std::to_string(info.serviceId) + info.policyOid, std::to_string(id) + policies[id]);
        const std::string url = info.url;
        EXPECT_EQ(id < 3, url.rfind("http://", 0) == 0 && url.find("/kelmtssvr/TSRequest") != std::string::npos);
        EXPECT_TRUE((id < 3 || url.empty()) && info.name[0] != '\0') << url;
        EXPECT_TRUE(info.name[sizeof info.name - 1] == '\0' && info.url[sizeof info.url - 1] == '\0');
    }
    ZORBELUServiceInfo info;
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(ZORBELUGetKovraServiceInfo(5, &info), ZORBELU_ERR_PARAM);
    const ZORBELUServiceInfo zero{};
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    EXPECT_EQ(ZORBELUGetKovraServiceInfo(0, nullptr), ZORBELU_ERR_PARAM);

    // "about:blank" in a resource module means no endpoint.
    platform::HINSTANCE module = platform::LoadLibraryA(TEST_LANGUAGE_MODULE);
    ASSERT_NE(module, nullptr);
    frame::AfxSetResourceHandle(module);
    EXPECT_EQ(ZORBELUGetKovraServiceInfo(2, &info), ZORBELU_OK);
    EXPECT_EQ(std::string(info.url) + info.name, "");  // the test module holds no name for it either
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(module);
}

constexpr const char *kSha1 = "1.3.14.3.2.26", *kSha256 = "2.16.840.1.101.3.4.2.1", *kSha384 = "2.16.840.1.101.3.4.2.2",
                     *kSha512 = "2.16.840.1.101.3.4.2.3";

template <typename Digest>
Digest MakeDigest(const char* oid, uint32_t length) {
    Digest digest;
    std::memset(&digest, 0, sizeof digest);
    std::strncpy(digest.algorithmOid, oid, sizeof digest.algorithmOid - 1);
    digest.digestLength = length;
    return digest;
}

TEST(DigestRule, AcceptsEachAlgorithmWithItsLengthOnly) {
    const struct {
        const char* oid;
        uint32_t length, shortForm, longForm;  // results for ZORBELUDigestInfo and ZORBELUDigestInfoEx
    } cases[] = {
        {kSha1, 20, ZORBELU_OK, ZORBELU_OK},
        {"1.2.840.113549.2.5", 16, ZORBELU_OK, ZORBELU_OK},
        {kSha256, 32, ZORBELU_OK, ZORBELU_OK},
        {kSha384, 48, ZORBELU_ERR_DIGEST, ZORBELU_OK},
        {kSha512, 64, ZORBELU_ERR_DIGEST, ZORBELU_OK},
        {kSha256, 20, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {kSha512, 40, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {"1.2.840.113549.1.1.11", 32, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {"2.16.840.1.101.3.4.2.1 ", 32, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
    };
    for (const auto& c : cases) {
        const auto shortForm = MakeDigest<ZORBELUDigestInfo>(c.oid, c.length);
        const auto longForm = MakeDigest<ZORBELUDigestInfoEx>(c.oid, c.length);
        EXPECT_EQ(verify::ValidateDigest(&shortForm), c.shortForm) << c.oid << " " << c.length;
        EXPECT_EQ(verify::ValidateDigest(&longForm), c.longForm) << c.oid << " " << c.length;
    }
    EXPECT_EQ(verify::ValidateDigest(static_cast<const ZORBELUDigestInfo*>(nullptr)), ZORBELU_ERR_PARAM);
    EXPECT_EQ(verify::ValidateDigest(static_cast<const ZORBELUDigestInfoEx*>(nullptr)), ZORBELU_ERR_PARAM);
    // The NUL is looked for in the first 41 bytes of the short record, 129 of the long one.
    auto shortForm = MakeDigest<ZORBELUDigestInfo>(kSha1, 20);
    auto longForm = MakeDigest<ZORBELUDigestInfoEx>(kSha1, 20);
    std::memset(shortForm.algorithmOid, '1', 41);
    std::memset(longForm.algorithmOid, '1', sizeof longForm.algorithmOid);
    longForm.digest[0] = 1;
    EXPECT_EQ(verify::ValidateDigest(&shortForm), ZORBELU_ERR_DIGEST);
    EXPECT_EQ(verify::ValidateDigest(&longForm), ZORBELU_ERR_DIGEST);
}

TEST(DigestPairRule, TheCurrentDigestMustMatchInKind) {
    const auto sha256 = MakeDigest<ZORBELUDigestInfo>(kSha256, 32), sha1 = MakeDigest<ZORBELUDigestInfo>(kSha1, 20);
    const auto bad = MakeDigest<ZORBELUDigestInfo>(kSha256, 31);
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, nullptr), ZORBELU_OK);
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, &sha1), ZORBELU_ERR_PARAM);
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, &bad), ZORBELU_ERR_DIGEST);
    EXPECT_EQ(verify::ValidateDigestPair(&bad, &sha256), ZORBELU_ERR_DIGEST);
}

TEST(CrlBufferRule, StateBufferEncodingAndLength) {
    const struct {
        uint32_t state;
        bool hasBuffer;
        uint32_t bufferSize, crlLength, encoding, expected;
    } cases[] = {
        {0, true, 100, 0, 0, ZORBELU_OK},    {1, true, 100, 50, 3, ZORBELU_OK},
        {2, true, 100, 50, 2, ZORBELU_ERR_PARAM},  // unknown state
        {0, false, 100, 0, 1, ZORBELU_ERR_PARAM},  {0, true, 0, 0, 1, ZORBELU_ERR_PARAM},
        {1, true, 100, 50, 4, ZORBELU_ERR_CRL_ENCODING}, {1, true, 100, 50, 0, ZORBELU_ERR_CRL_ENCODING},
        {1, true, 100, 0, 2, ZORBELU_ERR_PARAM},  // a held CRL of no length
    };
    uint8_t memory[100];
    for (const auto& c : cases) {
        const ZORBELUCRLBuffer buffer{c.state, c.hasBuffer ? memory : nullptr, c.bufferSize, c.crlLength, c.encoding};
        EXPECT_EQ(verify::ValidateCrlBuffer(&buffer), c.expected) << c.state << " " << c.encoding;
    }
}

// Signed time-outs below 1 are the default like 0, never some 49 days.
TEST(TimeLimitRule, ZeroAndNegativeMeanTheDefault) {
    EXPECT_EQ(verify::EffectiveTimeLimit(0u), 15000u);
    for (const int32_t given : {0, -1, INT32_MIN}) EXPECT_EQ(verify::EffectiveTimeLimit(given), 15000u) << given;
    EXPECT_EQ(verify::EffectiveTimeLimit(int32_t{2500}), 2500u);
}

// Texts end within their fields; modes are known ones; the owner window counts only without credentials.
TEST(ProxyRule, FieldsModesAndTheOwnerWindow) {
    constexpr uint32_t kGiven = ZORBELU_CREDENTIALS_GIVEN, kNone = ZORBELU_CREDENTIALS_NONE;
    int notAWindow = 0;
    const auto window = reinterpret_cast<ZORBELU_HWND>(&notAWindow);
    const size_t server = offsetof(ZORBELUProxyInfo, proxyServer), user = offsetof(ZORBELUProxyInfo, credential1),
                 password = offsetof(ZORBELUProxyInfo, credential2), domain = offsetof(ZORBELUProxyInfo, credential3);
    const size_t full = sizeof ZORBELUProxyInfo::proxyServer, fullText = sizeof ZORBELUProxyInfo::credential1;
    const struct {
        const char* what;
        uint32_t mode, credentials;
        size_t field, filled;  // bytes of 'a' at that offset
        ZORBELU_HWND owner;
        uint32_t expected;
    } cases[] = {
        {"server without its NUL", ZORBELU_PROXY_SERVER, kGiven, server, full, nullptr, ZORBELU_ERR_TOO_LONG},
        {"server of full length", ZORBELU_PROXY_SERVER, kGiven, server, full - 1, nullptr, ZORBELU_OK},
        {"server in direct mode", ZORBELU_PROXY_DIRECT, kGiven, server, full, nullptr, ZORBELU_OK},
        {"password", ZORBELU_PROXY_SERVER, kGiven, password, fullText, nullptr, ZORBELU_ERR_TOO_LONG},
        {"domain", ZORBELU_PROXY_DIRECT, kGiven, domain, fullText, nullptr, ZORBELU_ERR_TOO_LONG},
        {"user, no credentials", ZORBELU_PROXY_DIRECT, kNone, user, fullText, nullptr, ZORBELU_OK},
        {"mode 3", 3, kNone, server, 0, nullptr, ZORBELU_ERR_PARAM},
        {"credential mode 2", ZORBELU_PROXY_DIRECT, 2, server, 0, nullptr, ZORBELU_ERR_PARAM},
        {"not a window", ZORBELU_PROXY_DIRECT, kNone, server, 0, window, ZORBELU_ERR_WINDOW},
        {"a window with credentials", ZORBELU_PROXY_DIRECT, kGiven, server, 0, window, ZORBELU_OK},
    };
    for (const auto& c : cases) {
        ZORBELUProxyInfo proxy{};
        proxy.proxyMode = c.mode;
        proxy.credentialMode = c.credentials;
        proxy.ownerWindow = c.owner;
        std::memset(reinterpret_cast<char*>(&proxy) + c.field, 'a', c.filled);
        EXPECT_EQ(verify::ValidateProxyInfo(&proxy), c.expected) << c.what;
    }
    ZORBELUProxyInfo proxy;
    std::memset(&proxy, 0x5A, sizeof proxy);
    proxy.proxyMode = ZORBELU_PROXY_SYSTEM;  // looks at nothing else
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK);
    proxy = ZORBELUProxyInfo{};
    proxy.credentialMode = kNone;
    proxy.ownerWindow = window;
    platform::RegisterWindow(window);
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK);
    platform::UnregisterWindow(window);
}

TEST(GeneralizedTime, ConvertsStrictUtcTextsOnly) {
    const struct {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"20240229120000Z", 1709208000},
        {"19700101000000Z", 0},
        {"20241301000000Z", 1735689600},  // month 13 is January of the next year
        {"20240230000000Z", 1709251200},  // 30 February is 1 March
        {"30001231235959Z", 32535215999},
        {"30010101000000Z", -1},
        {"19691231235959Z", -1},
        {"20240229120000+0900", -1},
        {"2024022912000Z", -1},
        {"20240229120000", -1},
        {"2024022912000aZ", -1},
        {"", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(ZORBELUGeneralizedTimeToTimeT(c.text), c.expected) << c.text;
    EXPECT_EQ(ZORBELUGeneralizedTimeToTimeT(nullptr), -1);
}

// The first and last rows, one between; the numbers just outside the table.
TEST(TimeZoneTable, RowsAndTheNumbersOutsideIt) {
    const struct {
        uint32_t id;
        const char* abbreviation;
        int32_t bias;
    } rows[] = {{2, "PST", -480}, {13, "BST", 60}, {15, "WEST", 60}, {21, "EEST", 180}, {23, "KST", 540}};
    for (const auto& row : rows) {
        ZORBELUTimeZoneInfo info;
        std::memset(&info, 0xAB, sizeof info);
        ASSERT_EQ(ZORBELUGetTimeZoneInfo(row.id, &info), ZORBELU_OK) << row.id;
        EXPECT_EQ(info.zoneId, row.id);
        EXPECT_STREQ(info.abbreviation, row.abbreviation);
        EXPECT_EQ(info.reserved, 0u);
        EXPECT_EQ(info.biasMinutes, row.bias);
    }
    for (const uint32_t outside : {0u, 1u, 24u, 0xFFFFFFFFu}) {
        ZORBELUTimeZoneInfo info;
        EXPECT_EQ(ZORBELUGetTimeZoneInfo(outside, &info), ZORBELU_ERR_TIME_ZONE) << outside;
    }
    EXPECT_EQ(ZORBELUGetTimeZoneInfo(10, nullptr), ZORBELU_ERR_PARAM);
}

TEST(AlgorithmCodes, IdentifierAndLengthMustBothMatch) {
    const struct {
        const char* oid;
        int32_t length;
        uint32_t result;
        uint32_t code;
    } cases[] = {
        {"1.3.14.3.2.26", 13, ZORBELU_OK, ZORBELU_ALG_SHA1},
        {"2.16.840.1.101.3.4.2.1", 22, ZORBELU_OK, ZORBELU_ALG_SHA256},
        {"2.16.840.1.101.3.4.2.2", 22, ZORBELU_OK, ZORBELU_ALG_SHA384},
        {"2.16.840.1.101.3.4.2.3", 22, ZORBELU_OK, ZORBELU_ALG_SHA512},
        {"2.16.840.1.101.3.4.2.1", 21, ZORBELU_ERR_PARAM, 0},
        {"1.2.840.113549.1.1.11", 21, ZORBELU_ERR_PARAM, 0},
        {"", 0, ZORBELU_ERR_PARAM, 0},
    };
    for (const auto& c : cases) {
        uint32_t code = 0;
        EXPECT_EQ(ZORBELUGetOIDValueToOID(c.oid, c.length, &code), c.result) << c.oid << " " << c.length;
        EXPECT_EQ(code, c.code) << c.oid;  // a refusal leaves the code as it was
    }
    uint32_t code = 0;
    EXPECT_EQ(ZORBELUGetOIDValueToOID(nullptr, 13, &code), ZORBELU_ERR_WINDOW);
    EXPECT_EQ(ZORBELUGetOIDValueToOID("1.3.14.3.2.26", 13, nullptr), ZORBELU_ERR_WINDOW);
}

TEST(IsValidity, BothEndsOfThePeriodAreValid) {
    const int64_t notBefore = 1577836800, notAfter = 1893456000;  // 2020-01-01 and 2030-01-01
    namespace x509 = zorbelu::fixtures::x509;
    const auto key = x509::CachedKey("validity", x509::KeyType::EcP256);
    x509::CertRequest request;
    request.commonName = "validity";
    request.key = key.get();
    request.notBefore = notBefore;
    request.notAfter = notAfter;
    std::string der = x509::CertDer(x509::MakeCertificate(request).get());
    ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size()), 1};
    const struct {
        int64_t time;
        uint32_t expected;
    } cases[] = {
        {notBefore - 1, ZORBELU_ERR_NOT_YET_VALID}, {notBefore, ZORBELU_OK}, {notAfter, ZORBELU_OK},
        {notAfter + 1, ZORBELU_ERR_EXPIRED},       {0, ZORBELU_ERR_PARAM},  {-5, ZORBELU_ERR_PARAM},
    };
    for (const auto& c : cases) EXPECT_EQ(ZORBELUIsValidity(&cert, c.time), c.expected) << c.time;
    cert.encoding = 4;
    EXPECT_EQ(ZORBELUIsValidity(&cert, notBefore), ZORBELU_ERR_CRL_ENCODING);
    cert.encoding = 3;  // DER bytes read as PEM do not decode
    EXPECT_EQ(ZORBELUIsValidity(&cert, notBefore), ZORBELU_VS_CERT_INVALID);
    EXPECT_EQ(ZORBELUIsValidity(nullptr, notBefore), ZORBELU_ERR_PARAM);
}

}  // namespace
