// Verifications on four threads through every engine: each thread gets its own verdicts and TSA certificate.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "verify/verify_test_support.h"

namespace {

using namespace zorbelu;
using fixtures::Damage;
using fixtures::Tsa;
using fixtures::TokenSpec;

struct Token {
    const char* what;
    Tsa tsa;
    bool altered;
};

// Revoked and large-CRL tokens fetch CRLs; large CRL and certificate grow buffers while other threads' do too.
const Token kTokens[] = {
    {"good", Tsa::Good, false},
    {"revoked", Tsa::Revoked, false},
    {"altered", Tsa::Good, true},
    {"large CRL", Tsa::LargeCrl, false},
    {"large certificate", Tsa::LargeCertificate, false},
};

// Engine 0 is the CRL buffer engine, 1 the full verification, 2 and 3 policies 1 and 2 (no revocation).
struct Engine {
    const char* name;
    uint32_t revoked;  // the verdict on the revoked token; good ones verify, altered ones are damaged
};
const Engine kEngines[] = {{"CRL buffer engine", ZORBELU_VS_CERT_REVOKED}, {"full verification", ZORBELU_VS_CERT_REVOKED},
                           {"policy 1", ZORBELU_VS_CERT_REVOKED}, {"policy 2", ZORBELU_VS_OK}};

uint32_t Verify(size_t engine, const ZORBELUBlob& t, const ZORBELUDigestInfo& d, const ZORBELUDigestInfoEx& x) {
    if (engine == 0) return ZORBELUVerifyTimeStampToken(&t, &d, nullptr, 5000);
    if (engine == 1) return ZORBELUVerifyTimeStampTokenEx2(&t, &d, 5000, nullptr, nullptr);
    return ZORBELUVerifyTimeStampTokenByPolicy(&t, &x, 5000, nullptr, nullptr, static_cast<uint32_t>(engine - 1));
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override {
        test::TrustRootAndIntermediate(served_);
        for (const Token& token : kTokens) {
            TokenSpec recipe(token.tsa);
            if (token.altered) recipe.damage = Damage::FlipSignatureByte;
            tokens_.push_back(served_.pki().MakeToken(recipe));
        }
    }

    // Runs `round` on four threads, each starting elsewhere in the work; gives every wrong answer.
    std::vector<std::string> OnFourThreads(const std::function<void(int, std::vector<std::string>&)>& round) {
        constexpr int kThreads = 4, kRounds = 3;
        std::vector<std::vector<std::string>> wrong(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int r = 0; r < kRounds; ++r) round(t + r, wrong[t]);
            });
        for (std::thread& thread : threads) thread.join();
        std::vector<std::string> all;
        for (const auto& w : wrong) all.insert(all.end(), w.begin(), w.end());
        return all;
    }

    test::ServedPki served_;
    std::vector<std::string> tokens_;
};

TEST_F(Threads, EveryEngineGivesEachThreadItsOwnVerdicts) {
    const ZORBELUDigestInfo digest = test::DigestRecord(served_.pki());
    const ZORBELUDigestInfoEx digestEx = test::DigestRecordEx(served_.pki());
    constexpr size_t kTokenCount = std::size(kTokens), kEngineCount = std::size(kEngines);
    const auto wrong = OnFourThreads([&](int start, std::vector<std::string>& errors) {
        for (size_t i = 0; i < kTokenCount * kEngineCount; ++i) {
            const size_t k = (i + static_cast<size_t>(start) * 3) % (kTokenCount * kEngineCount);
            const Token& token = kTokens[k % kTokenCount];
            const Engine& engine = kEngines[k / kTokenCount];
            const uint32_t expected = token.altered           ? ZORBELU_VS_DATA_DAMAGED
                                      : token.tsa == Tsa::Revoked ? engine.revoked
                                                                  : ZORBELU_VS_OK;
            const uint32_t got = Verify(k / kTokenCount, test::Blob(tokens_[k % kTokenCount]), digest, digestEx);
            if (got != expected)
                errors.push_back(std::string(engine.name) + ", " + token.what + ": " + std::to_string(got));
        }
    });
    EXPECT_EQ(wrong, std::vector<std::string>{});
}

TEST_F(Threads, GatheringHandsEachThreadItsOwnTsaCertificate) {
    const auto wrong = OnFourThreads([&](int start, std::vector<std::string>& errors) {
        for (size_t i = 0; i < std::size(kTokens); ++i) {
            const size_t k = (i + static_cast<size_t>(start)) % std::size(kTokens);
            const ZORBELUBlob token = test::Blob(tokens_[k]);
            ZORBELUBlob tsa{};
            ZORBELUCertBlob *ca = nullptr, *crls = nullptr;
            const uint32_t result = ZORBELUGetCertificates(&token, 5000, nullptr, &tsa, &ca, &crls);
            if (ca != nullptr && ZORBELUFreeCertificates(&ca) != ZORBELU_OK) errors.push_back("CA array");
            if (crls != nullptr && ZORBELUFreeCertificates(&crls) != ZORBELU_OK) errors.push_back("CRL array");
            // Read after the other threads' calls have had time to write.
            std::this_thread::yield();
            const std::string got(reinterpret_cast<const char*>(tsa.data), result == ZORBELU_OK ? tsa.length : 0);
            if (result != ZORBELU_OK || got != served_.pki().CertDer(kTokens[k].tsa))
                errors.push_back(std::string(kTokens[k].what) + ": " + std::to_string(result));
        }
    });
    EXPECT_EQ(wrong, std::vector<std::string>{});
}

}  // namespace
