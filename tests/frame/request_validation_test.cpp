// The argument rules every verification applies, case by case.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
        {kSha1, 0, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {kSha512, 40, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {"1.2.840.113549.1.1.11", 32, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {"2.16.840.1.101.3.4.2.1 ", 32, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
        {"", 20, ZORBELU_ERR_DIGEST, ZORBELU_ERR_DIGEST},
    };
    for (const auto& c : cases) {
        const auto shortForm = MakeDigest<ZORBELUDigestInfo>(c.oid, c.length);
        const auto longForm = MakeDigest<ZORBELUDigestInfoEx>(c.oid, c.length);
        EXPECT_EQ(verify::ValidateDigest(&shortForm), c.shortForm) << c.oid << " " << c.length;
        EXPECT_EQ(verify::ValidateDigest(&longForm), c.longForm) << c.oid << " " << c.length;
    }
    EXPECT_EQ(verify::ValidateDigest(static_cast<const ZORBELUDigestInfo*>(nullptr)), ZORBELU_ERR_PARAM);
    EXPECT_EQ(verify::ValidateDigest(static_cast<const ZORBELUDigestInfoEx*>(nullptr)), ZORBELU_ERR_PARAM);
    // The short record looks for the NUL in its first 41 bytes, the long one
    // in its first 129 (which reaches into the digest bytes).
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
    auto otherBytes = sha256;
    otherBytes.digest[0] = 0xFF;
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, nullptr), ZORBELU_OK);
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, &otherBytes), ZORBELU_OK);  // bytes are compared later
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, &sha1), ZORBELU_ERR_PARAM);
    EXPECT_EQ(verify::ValidateDigestPair(&sha256, &bad), ZORBELU_ERR_DIGEST);
    EXPECT_EQ(verify::ValidateDigestPair(&bad, &sha256), ZORBELU_ERR_DIGEST);
    EXPECT_EQ(verify::ValidateDigestPair(static_cast<const ZORBELUDigestInfo*>(nullptr), &sha256), ZORBELU_ERR_PARAM);
    const auto sha512 = MakeDigest<ZORBELUDigestInfoEx>(kSha512, 64);
    const auto sha384 = MakeDigest<ZORBELUDigestInfoEx>(kSha384, 48);
    EXPECT_EQ(verify::ValidateDigestPair(&sha512, &sha512), ZORBELU_OK);
    EXPECT_EQ(verify::ValidateDigestPair(&sha512, &sha384), ZORBELU_ERR_PARAM);
}

TEST(CrlBufferRule, StateBufferEncodingAndLength) {
    const struct {
        const char* what;
        uint32_t state;
        bool hasBuffer;
        uint32_t bufferSize, crlLength, encoding, expected;
    } cases[] = {
        {"empty buffer", 0, true, 100, 0, 0, ZORBELU_OK},
        {"held CRL, DER", 1, true, 100, 50, 2, ZORBELU_OK},
        {"held CRL, detect", 1, true, 100, 50, 1, ZORBELU_OK},
        {"held CRL, PEM", 1, true, 100, 50, 3, ZORBELU_OK},
        {"unknown state", 2, true, 100, 50, 2, ZORBELU_ERR_PARAM},
        {"no memory", 0, false, 100, 0, 1, ZORBELU_ERR_PARAM},
        {"no capacity", 0, true, 0, 0, 1, ZORBELU_ERR_PARAM},
        {"encoding 4", 1, true, 100, 50, 4, ZORBELU_ERR_CRL_ENCODING},
        {"encoding 0", 1, true, 100, 50, 0, ZORBELU_ERR_CRL_ENCODING},
        {"encoding 4 and no length", 1, true, 100, 0, 4, ZORBELU_ERR_CRL_ENCODING},
        {"held CRL of no length", 1, true, 100, 0, 2, ZORBELU_ERR_PARAM},
        {"state 0 ignores the encoding", 0, true, 100, 0, 9, ZORBELU_OK},
    };
    uint8_t memory[100];
    for (const auto& c : cases) {
        const ZORBELUCRLBuffer buffer{c.state, c.hasBuffer ? memory : nullptr, c.bufferSize, c.crlLength, c.encoding};
        EXPECT_EQ(verify::ValidateCrlBuffer(&buffer), c.expected) << c.what;
    }
    EXPECT_EQ(verify::ValidateCrlBuffer(nullptr), ZORBELU_OK);
}

// Unsigned limits are taken as they are; signed time-outs below 1 are the
// default like 0, never some 49 days.
TEST(TimeLimitRule, ZeroAndNegativeMeanTheDefault) {
    EXPECT_EQ(verify::EffectiveTimeLimit(0u), 15000u);
    EXPECT_EQ(verify::EffectiveTimeLimit(1u), 1u);
    EXPECT_EQ(verify::EffectiveTimeLimit(uint32_t{UINT32_MAX}), UINT32_MAX);
    for (const int32_t given : {0, -1, INT32_MIN}) EXPECT_EQ(verify::EffectiveTimeLimit(given), 15000u) << given;
    EXPECT_EQ(verify::EffectiveTimeLimit(int32_t{2500}), 2500u);
}

TEST(ProxyRule, TextsMustEndWithinTheirFields) {
    ZORBELUProxyInfo proxy;
    std::memset(&proxy, 0x5A, sizeof proxy);
    proxy.proxyMode = ZORBELU_PROXY_SYSTEM;  // looks at nothing else
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK);
    EXPECT_EQ(verify::ValidateProxyInfo(nullptr), ZORBELU_OK);
    const struct {
        const char* what;
        uint32_t mode;
        char* field;
        size_t size;
        uint32_t expected;
    } cases[] = {
        {"server", ZORBELU_PROXY_SERVER, proxy.proxyServer, sizeof proxy.proxyServer, ZORBELU_ERR_TOO_LONG},
        {"server in direct mode", ZORBELU_PROXY_DIRECT, proxy.proxyServer, sizeof proxy.proxyServer, ZORBELU_OK},
        {"user", ZORBELU_PROXY_DIRECT, proxy.credential1, sizeof proxy.credential1, ZORBELU_ERR_TOO_LONG},
        {"password", ZORBELU_PROXY_SERVER, proxy.credential2, sizeof proxy.credential2, ZORBELU_ERR_TOO_LONG},
        {"domain", ZORBELU_PROXY_DIRECT, proxy.credential3, sizeof proxy.credential3, ZORBELU_ERR_TOO_LONG},
    };
    for (const auto& c : cases) {
        std::memset(&proxy, 0, sizeof proxy);
        proxy.proxyMode = c.mode;
        proxy.credentialMode = ZORBELU_CREDENTIALS_GIVEN;
        std::memset(c.field, 'a', c.size);
        EXPECT_EQ(verify::ValidateProxyInfo(&proxy), c.expected) << c.what;
        c.field[c.size - 1] = '\0';
        EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK) << c.what << " of full length";
    }
}

TEST(ProxyRule, ModesCredentialModesAndTheOwnerWindow) {
    ZORBELUProxyInfo proxy{};
    proxy.proxyMode = 3;
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_ERR_PARAM);
    proxy.proxyMode = ZORBELU_PROXY_DIRECT;
    proxy.credentialMode = 2;
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_ERR_PARAM);
    proxy.credentialMode = ZORBELU_CREDENTIALS_NONE;
    std::memset(proxy.credential1, 'a', sizeof proxy.credential1);  // not looked at without credentials
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK);
    int notAWindow = 0;
    proxy.ownerWindow = reinterpret_cast<ZORBELU_HWND>(&notAWindow);
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_ERR_WINDOW);
    platform::RegisterWindow(proxy.ownerWindow);
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK);
    platform::UnregisterWindow(proxy.ownerWindow);
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_ERR_WINDOW);
    proxy.credentialMode = ZORBELU_CREDENTIALS_GIVEN;  // the window matters only without credentials
    proxy.credential1[0] = '\0';
    EXPECT_EQ(verify::ValidateProxyInfo(&proxy), ZORBELU_OK);
}

}  // namespace
