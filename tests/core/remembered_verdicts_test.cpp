// The chain verdicts the core remembers between verifications: whatever it
// remembered, each verification must give the verdict its own store, CRLs
// and clock give, in whatever order those come.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/test_util.h"
#include "support/fixture_pki.h"

namespace zorbelu::coretest {
namespace {

class core_RememberedVerdicts : public testing::Test {
protected:
    void TearDown() override { unsetenv("ZORBELU_TEST_NOW"); }

    static void SetClock(long offsetFromNow) {
        if (offsetFromNow == 0)
            unsetenv("ZORBELU_TEST_NOW");
        else
            setenv("ZORBELU_TEST_NOW", std::to_string(std::time(nullptr) + offsetFromNow).c_str(), 1);
    }
};

TEST_F(core_RememberedVerdicts, EveryChangeOfStoreCrlOrClockGivesItsOwnVerdict) {
    using fixtures::Ca;
    const fixtures::FixturePki& pki = fixtures::FixturePki::Shared();
    const Bytes token(pki.Token("under-root-sha256").begin(), pki.Token("under-root-sha256").end());
    const std::string root = pki.CertDer(Ca::Root);
    const std::string current = pki.MakeCrl(Ca::Root, {777});
    const std::string revoking = pki.MakeCrl(Ca::Root, {777, pki.Serial(fixtures::Tsa::UnderRoot)});
    constexpr long kDay = 24 * 3600;
    const struct {
        const char* what;
        std::string anchor;
        std::string crl;
        long clock;  // seconds from now; 0: now
        uint32_t expected;
    } steps[] = {
        {"current CRL", root, current, 0, ZORBEL_OK},
        {"the same again", root, current, 0, ZORBEL_OK},
        {"the CRL refreshed, now revoking the TSA", root, revoking, 0, ZORBEL_VERIFY_CERT_REVOKED},
        {"the revoking CRL again", root, revoking, 0, ZORBEL_VERIFY_CERT_REVOKED},
        {"the first CRL again", root, current, 0, ZORBEL_OK},
        {"a CA that is not the issuer in the store", pki.CertDer(Ca::Intermediate), current, 0, ZORBEL_VERIFY_INCOMPLETE},
        {"the clock past the CRL's nextUpdate", root, current, 8 * kDay, ZORBEL_VERIFY_CRL_EXPIRED},
        {"the clock before the CRL's thisUpdate", root, current, -2 * kDay, ZORBEL_VERIFY_CRL_EXPIRED},
        {"the clock back to now", root, current, 0, ZORBEL_OK},
        {"the clock past the revoking CRL's nextUpdate", root, revoking, 8 * kDay, ZORBEL_VERIFY_CRL_EXPIRED},
    };
    const ZORBELUDigestInfoEx digest = HashWithLibrary(ZORBEL_HASH_SHA256, Bytes(pki.Data().begin(), pki.Data().end()));
    const ZORBELUBlob blob = Blob(token);
    for (const auto& step : steps) {
        SetClock(step.clock);
        const Store store = MakeStore({step.anchor}, {step.crl});
        EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, store.get()), step.expected) << step.what;
    }
}

}  // namespace
}  // namespace zorbelu::coretest
