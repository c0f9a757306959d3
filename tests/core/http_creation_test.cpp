// Token creation over HTTP against a TSA endpoint on 127.0.0.1 whose
// answers come from the fixture PKI's good TSA.
#include <gtest/gtest.h>

#include <cstring>

#include "core/test_util.h"
#include "support/test_http_server.h"
#include "zorbelcomm.h"

namespace zorbelu::coretest {
namespace {

class core_HttpCreation : public testing::Test {
protected:
    void SetUp() override {
        ZORBELUProxyInfo direct{};
        direct.proxyMode = ZORBELU_PROXY_DIRECT;
        direct.credentialMode = ZORBELU_CREDENTIALS_NONE;
        ASSERT_EQ(ZORBELPRVSetProxy(&direct), ZORBELCOMM_OK);
        server.start();
        server.setTsaHandler("/tsa", [this](const std::string& der) { return pki.RespondToTimeStampRequest(der); });
    }

    uint32_t Create(const std::string& path, Bytes* token, uint32_t capacity = 16384) {
        const std::string url = server.url(path);
        ZORBELTSAConnection connection{url.c_str(), 5000, nullptr};
        ZORBELTimeStampRequest request{};
        request.digest = HashWithLibrary(ZORBEL_HASH_SHA256, ToBytes(pki.Data()));
        request.certReq = 1;
        request.nonce = 1;
        Bytes buffer(capacity);
        ZORBELUCertBlob out{buffer.data(), capacity, 0};
        const uint32_t rc = ZORBELHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&connection), &request,
                                                               reinterpret_cast<uintptr_t>(&out));
        if (token != nullptr) *token = rc == ZORBEL_OK ? Bytes(buffer.begin(), buffer.begin() + out.length) : Bytes();
        lastLength = out.length;
        return rc;
    }

    TempFolder folder;
    const fixtures::FixturePki pki = fixtures::FixturePki::Create(folder.Path());
    test::TestHttpServer server;
    uint32_t lastLength = 0;
};

TEST_F(core_HttpCreation, TokenFromTheTsaVerifies) {
    Bytes token;
    ASSERT_EQ(Create("/tsa", &token), ZORBEL_OK);
    const Store store = MakeStore({pki.CertDer(fixtures::Ca::Intermediate)}, {pki.CrlBytes(fixtures::Crl::Intermediate)});
    EXPECT_EQ(VerifyEx(token, HashWithLibrary(ZORBEL_HASH_SHA256, ToBytes(pki.Data())), store.get()), ZORBEL_OK);
    EXPECT_EQ(Create("/tsa", nullptr, 100), ZORBEL_ERR_BUFFER_TOO_SMALL);
    // The size needed is that of a fresh token: its random nonce may be a byte shorter or longer.
    EXPECT_NEAR(static_cast<double>(lastLength), static_cast<double>(token.size()), 4.0);
}

TEST_F(core_HttpCreation, AnswersThatAreNotTheTokenAskedFor) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const auto answer = [this](const char* path, const Bytes& bytes) {
        server.setTsaHandler(path, [bytes](const std::string&) { return std::string(bytes.begin(), bytes.end()); });
    };
    answer("/reject", RealWorldFile("digitorus-timestamp/respRejection.tsr"));
    EXPECT_EQ(Create("/reject", nullptr), ZORBEL_ERR_TSA_REJECTED);
    answer("/replay", RealWorldFile("digitorus-timestamp/respNonce.tsr"));  // a granted answer to another request
    EXPECT_EQ(Create("/replay", nullptr), ZORBEL_ERR_TSA_MISMATCH);
    answer("/garbage", ToBytes("not der"));
    EXPECT_EQ(Create("/garbage", nullptr), ZORBEL_ERR_TSA_MISMATCH);
    // The transfer's own failures pass through unchanged.
    EXPECT_EQ(Create("/missing", nullptr), ZORBELCOMM_ERR_FAILED);
}

TEST(core_GetUser, NameOfTheConfiguredCredentials) {
    ZORBELUProxyInfo settings{};
    settings.proxyMode = ZORBELU_PROXY_DIRECT;
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
}  // namespace zorbelu::coretest
