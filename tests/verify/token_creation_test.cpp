// Tokens made locally and by a TSA over HTTP verify; wrong answers and the core's refusals reach the caller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "verify/verify_test_support.h"
#include "zorbel.h"
#include "zorbelcomm.h"

namespace {

using namespace zorbelu;

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
