// The argument rules every verification applies, case by case.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "ui/windows.h"
#include "verify/request_validation.h"
#include "verify/verification_steps.h"

namespace {

using namespace zorbelu;

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

}  // namespace
