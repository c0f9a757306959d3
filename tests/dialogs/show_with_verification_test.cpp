// Verify-then-show on the headless backend: the status shown and returned, the picture, the refusals.
#include <cstring>
#include <functional>

#include "dialogs/dialog_test_util.h"
#include "dialogs/signature/signature_dialog_parts.h"
#include "verify/verify_test_support.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using dialogtest::hl::Runs;

test::ServedPki& Served() {
    static test::ServedPki served;
    static const bool trusted = (test::TrustRootAndIntermediate(served), true);
    (void)trusted;
    return served;
}

constexpr ZORBELUTimeZoneSelector kTokyo{ZORBELU_TIME_ZONE_FIXED_OFFSET, 540}, kJst{22, 0};
const auto kShow = ZORBELUShowTimeStampTokenPropWithVerification;
const auto kShowEx = ZORBELUShowTimeStampTokenPropWithVerificationEx;
const auto kShowEx2 = ZORBELUShowTimeStampTokenPropWithVerificationEx2;
const auto kShowEx3 = ZORBELUShowTimeStampTokenPropWithVerificationEx3;

class ShowWithVerification : public dialogtest::HeadlessTest {
protected:
    test::ServedPki& served_ = Served();
    const std::string tacToken_ = dialogtest::TokenWithTac(served_.pki());
    const ZORBELUBlob tac_ = test::Blob(tacToken_);
    const ZORBELUDigestInfo digest_ = test::DigestRecord(served_.pki());
    const ZORBELUDigestInfoEx digestEx_ = test::DigestRecordEx(served_.pki());
};

TEST_F(ShowWithVerification, EveryFormShowsTheStatusItReturns) {
    ZORBELUDigestInfo wrong = digest_;
    ZORBELUDigestInfoEx wrongEx = digestEx_;
    wrong.digest[0] ^= 0xFF, wrongEx.digest[0] ^= 0xFF;
    ZORBELUCRLCacheStore* cache = nullptr;
    ASSERT_EQ(ZORBELUCreateCRLCacheStore(&cache), 1u);
    const auto* tac = &tac_;
    const struct {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t expected;
    } cases[] = {
        {"Ex2 good", [&] { return kShowEx2(nullptr, 1, tac, &digest_, &kTokyo, 5000, nullptr, cache); }, 2501},
        {"Ex3 good", [&] { return kShowEx3(nullptr, 1, tac, &digestEx_, &kTokyo, 5000, nullptr, cache); }, 2501},
        {"Ex good", [&] { return kShowEx(nullptr, 1, tac, &digest_, nullptr, 5000, nullptr); }, 2501},
        {"plain good", [&] { return kShow(nullptr, 1, tac, &digest_, nullptr, 5000); }, 2501},
        {"Ex2 wrong digest", [&] { return kShowEx2(nullptr, 1, tac, &wrong, &kTokyo, 5000, nullptr, cache); }, 2508},
        {"Ex3 wrong digest", [&] { return kShowEx3(nullptr, 1, tac, &wrongEx, &kTokyo, 5000, nullptr, cache); }, 2508},
        {"Ex2 not verified", [&] { return kShowEx2(nullptr, 0, tac, &wrong, &kTokyo, 5000, nullptr, cache); }, 2500},
        {"Ex2 null token, not verified",
         [&] { return kShowEx2(nullptr, 0, nullptr, nullptr, &kTokyo, 0, nullptr, nullptr); }, 2500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dialogtest::hl::Reset();
        EXPECT_EQ(c.call(), c.expected);
        ASSERT_EQ(Runs().size(), 1u);
        EXPECT_EQ(dialogtest::ShownPicture(Runs()[0].atStart),
                  c.expected == 2501 ? kPictureCheck : c.expected == 2508 ? kPictureCross : kPictureQuestion);
    }
    dialogtest::hl::Reset();
    ASSERT_EQ(kShowEx2(nullptr, 1, tac, &digest_, &kTokyo, 5000, nullptr, cache), 2501u);
    const std::string time = Runs()[0].atStart.Find(signature_ids::kTimeText)->text;
    EXPECT_EQ(time.substr(time.size() - 7), " +09:00");
    ZORBELUFreeCRLCacheStore(cache);
}

TEST_F(ShowWithVerification, RefusalsShowNothing) {
    const ZORBELUBlob noTac = test::Blob(served_.pki().Token("good-sha256"));
    const ZORBELUBlob noCert = test::Blob(served_.pki().Token("good-sha256-nocert"));
    const ZORBELUTimeZoneSelector east{ZORBELU_TIME_ZONE_FIXED_OFFSET, 841}, west{ZORBELU_TIME_ZONE_FIXED_OFFSET, -721};
    ZORBELUDigestInfo badAlgorithm = digest_;
    std::strcpy(badAlgorithm.algorithmOid, "1.2.3");
    const ZORBELUBlob* tac = &tac_;
    const ZORBELUDigestInfo* digest = &digest_;
    const struct {
        const char* what;
        uint32_t result, expected;
    } cases[] = {
        {"Ex2 verify flag 2", kShowEx2(nullptr, 2, tac, digest, &kJst, 0, nullptr, nullptr), 1001},
        {"Ex2 no zone", kShowEx2(nullptr, 1, tac, digest, nullptr, 0, nullptr, nullptr), 1001},
        {"Ex2 offset 841", kShowEx2(nullptr, 1, tac, digest, &east, 0, nullptr, nullptr), 2650},
        {"Ex3 offset -721", kShowEx3(nullptr, 0, tac, &digestEx_, &west, 0, nullptr, nullptr), 2650},
        {"Ex2 no TAC", kShowEx2(nullptr, 1, &noTac, digest, &kJst, 5000, nullptr, nullptr), 1801},
        {"Ex3 no TSA certificate", kShowEx3(nullptr, 1, &noCert, &digestEx_, &kJst, 5000, nullptr, nullptr), 1700},
        {"Ex2 null token", kShowEx2(nullptr, 1, nullptr, digest, &kJst, 0, nullptr, nullptr), 1001},
        {"Ex null token, not verified", kShowEx(nullptr, 0, nullptr, digest, nullptr, 0, nullptr), 1001},
        {"Ex verify flag -1", kShowEx(nullptr, -1, tac, digest, nullptr, 0, nullptr), 1001},
        // An error of the verification is handed back, no dialog.
        {"Ex2 unknown digest algorithm", kShowEx2(nullptr, 1, tac, &badAlgorithm, &kJst, 0, nullptr, nullptr), 1401},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_TRUE(Runs().empty());
    // A zone number and the edge offsets pass.
    for (const ZORBELUTimeZoneSelector& zone :
         {ZORBELUTimeZoneSelector{ZORBELU_TIME_ZONE_FIXED_OFFSET, 840}, {ZORBELU_TIME_ZONE_FIXED_OFFSET, -720}, kJst})
        EXPECT_EQ(kShowEx2(nullptr, 0, tac, digest, &zone, 0, nullptr, nullptr), 2500u);
}

}  // namespace
