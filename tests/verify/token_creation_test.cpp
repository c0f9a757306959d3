// Tokens made through the library, locally and from a TSA over HTTP, verify.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "verify/verify_test_support.h"
#include "zorbel.h"

namespace {

using namespace zorbelu;
using fixtures::Tsa;

class TokenCreation : public ::testing::Test {
protected:
    void SetUp() override {
        test::TrustRootAndIntermediate(served_);
        served_.server().setTsaHandler(
            "/tsa", [this](const std::string& request) { return served_.pki().RespondToTimeStampRequest(request); });
    }

    uint32_t VerifyToken(const std::vector<uint8_t>& token, uint32_t length) {
        const ZORBELUBlob blob{token.data(), length};
        const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
        return ZORBELUVerifyTimeStampToken(&blob, &digest, nullptr, 3000);
    }

    test::ServedPki served_;
};

TEST_F(TokenCreation, ATokenFromTheTsaOverHttpVerifies) {
    const std::string url = served_.server().url("/tsa");
    const ZORBELTSAConnection connection{url.c_str(), 3000, nullptr};
    std::vector<uint8_t> token(20000);
    ZORBELUCertBlob out{token.data(), static_cast<uint32_t>(token.size()), 0};
    const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served_.pki());
    ASSERT_EQ(ZORBELUHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&connection), &digest,
                                                  reinterpret_cast<uintptr_t>(&out)),
              ZORBELU_OK);
    EXPECT_EQ(served_.server().requestCount("/tsa"), 1u);
    EXPECT_EQ(VerifyToken(token, out.length), ZORBELU_VS_OK);
}

TEST_F(TokenCreation, ALocalTokenVerifies) {
    const std::string key = served_.pki().KeyPem(Tsa::Good);
    const std::string& cert = served_.pki().CertDer(Tsa::Good);
    ZORBELTSASigner signer{};
    signer.privateKey = reinterpret_cast<const uint8_t*>(key.data());
    signer.privateKeyLength = static_cast<uint32_t>(key.size());
    signer.certificate = reinterpret_cast<const uint8_t*>(cert.data());
    signer.certificateLength = static_cast<uint32_t>(cert.size());
    std::strcpy(signer.defaultPolicyOid, "1.2.3.4.5");
    std::vector<uint8_t> token(20000);
    ZORBELUCertBlob out{token.data(), static_cast<uint32_t>(token.size()), 0};
    const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served_.pki());
    ASSERT_EQ(ZORBELUCreateTimeStampToken(reinterpret_cast<uintptr_t>(&signer), ZORBEL_CREATE_TOKEN, &digest,
                                          reinterpret_cast<uintptr_t>(&out)),
              ZORBELU_OK);
    EXPECT_EQ(VerifyToken(token, out.length), ZORBELU_VS_OK);
}

TEST_F(TokenCreation, TheCoreLibrarysAnswerReachesTheCallerUnchanged) {
    const std::string url = served_.server().url("/refused");
    served_.server().setStatus("/refused", 500);
    const ZORBELTSAConnection connection{url.c_str(), 3000, nullptr};
    std::vector<uint8_t> token(100);
    ZORBELUCertBlob out{token.data(), static_cast<uint32_t>(token.size()), 0};
    const ZORBELUDigestInfoEx digest = test::DigestRecordEx(served_.pki());
    EXPECT_EQ(ZORBELUHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&connection), &digest,
                                                  reinterpret_cast<uintptr_t>(&out)),
              ZORBELU_ERR_COMM_FAILED);
    const std::string tsa = served_.server().url("/tsa");
    const ZORBELTSAConnection small{tsa.c_str(), 3000, nullptr};
    EXPECT_EQ(ZORBELUHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&small), &digest,
                                                  reinterpret_cast<uintptr_t>(&out)),
              ZORBELU_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ZORBELUHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&small), nullptr,
                                                  reinterpret_cast<uintptr_t>(&out)),
              ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUCreateTimeStampToken(0, 0, nullptr, 0), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUCreateTimeStampToken(0, 0, &digest, 0), ZORBELU_ERR_PARAM);  // the core refuses it
}

}  // namespace
