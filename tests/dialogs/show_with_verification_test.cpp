// Verify-then-show on the headless backend, with the fixture PKI served by
// the real test server: the status shown and returned, the picture, and
// what is refused before any dialog.
#include <cstring>
#include <functional>

#include "dialogs/dialog_test_util.h"
#include "dialogs/signature/signature_dialog_parts.h"
#include "verify/verify_test_support.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using dialogtest::hl::Runs;
using ShowWithVerification = dialogtest::HeadlessTest;

test::ServedPki& Served() {
    static test::ServedPki served;
    static const bool trusted = (test::TrustRootAndIntermediate(served), true);
    (void)trusted;
    return served;
}

constexpr ZORBELUTimeZoneSelector kTokyo{ZORBELU_TIME_ZONE_FIXED_OFFSET, 540};

TEST_F(ShowWithVerification, EveryFormShowsTheStatusItReturns) {
    test::ServedPki& served = Served();
    const std::string tacToken = dialogtest::TokenWithTac(served.pki());
    const ZORBELUBlob tac = test::Blob(tacToken);
    const ZORBELUDigestInfo digest = test::DigestRecord(served.pki());
    const ZORBELUDigestInfoEx digestEx = test::DigestRecordEx(served.pki());
    ZORBELUDigestInfo wrong = digest;
    wrong.digest[0] ^= 0xFF;
    ZORBELUDigestInfoEx wrongEx = digestEx;
    wrongEx.digest[0] ^= 0xFF;
    ZORBELUCRLCacheStore* cache = nullptr;
    ASSERT_EQ(ZORBELUCreateCRLCacheStore(&cache), 1u);
    const struct {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t expected;
        int picture;
    } cases[] = {
        {"Ex2 good", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &tac, &digest, &kTokyo, 5000, nullptr, cache); },
         2501, kPictureCheck},
        {"Ex3 good", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx3(nullptr, 1, &tac, &digestEx, &kTokyo, 5000, nullptr, cache); },
         2501, kPictureCheck},
        {"Ex good", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx(nullptr, 1, &tac, &digest, nullptr, 5000, nullptr); },
         2501, kPictureCheck},
        {"plain good", [&] { return ZORBELUShowTimeStampTokenPropWithVerification(nullptr, 1, &tac, &digest, nullptr, 5000); },
         2501, kPictureCheck},
        {"Ex2 wrong digest", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &tac, &wrong, &kTokyo, 5000, nullptr, cache); },
         2508, kPictureCross},
        {"Ex3 wrong digest", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx3(nullptr, 1, &tac, &wrongEx, &kTokyo, 5000, nullptr, cache); },
         2508, kPictureCross},
        {"Ex2 not verified", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 0, &tac, &wrong, &kTokyo, 5000, nullptr, cache); },
         2500, kPictureQuestion},
        {"Ex2 null token, not verified", [&] { return ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 0, nullptr, nullptr, &kTokyo, 0, nullptr, nullptr); },
         2500, kPictureQuestion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dialogtest::hl::Reset();
        EXPECT_EQ(c.call(), c.expected);
        ASSERT_EQ(Runs().size(), 1u);
        EXPECT_EQ(dialogtest::ShownPicture(Runs()[0].atStart), c.picture);
    }
    // The time is shown in the zone given.
    dialogtest::hl::Reset();
    ASSERT_EQ(ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &tac, &digest, &kTokyo, 5000, nullptr, cache), 2501u);
    const std::string time = Runs()[0].atStart.Find(signature_ids::kTimeText)->text;
    EXPECT_EQ(time.substr(time.size() - 7), " +09:00");
    ZORBELUFreeCRLCacheStore(cache);
}

TEST_F(ShowWithVerification, RefusalsShowNothing) {
    test::ServedPki& served = Served();
    const std::string tacToken = dialogtest::TokenWithTac(served.pki());
    const ZORBELUBlob tac = test::Blob(tacToken);
    const ZORBELUBlob noTac = test::Blob(served.pki().Token("good-sha256"));
    const ZORBELUBlob noCert = test::Blob(served.pki().Token("good-sha256-nocert"));
    const ZORBELUDigestInfo digest = test::DigestRecord(served.pki());
    const ZORBELUDigestInfoEx digestEx = test::DigestRecordEx(served.pki());
    const ZORBELUTimeZoneSelector east{ZORBELU_TIME_ZONE_FIXED_OFFSET, 841};
    const ZORBELUTimeZoneSelector west{ZORBELU_TIME_ZONE_FIXED_OFFSET, -721};
    const ZORBELUTimeZoneSelector jst{22, 0};
    ZORBELUDigestInfo badAlgorithm = digest;
    std::strcpy(badAlgorithm.algorithmOid, "1.2.3");
    const struct {
        const char* what;
        uint32_t result;
        uint32_t expected;
    } cases[] = {
        {"Ex2 verify flag 2", ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 2, &tac, &digest, &jst, 0, nullptr, nullptr), 1001},
        {"Ex2 no zone", ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &tac, &digest, nullptr, 0, nullptr, nullptr), 1001},
        {"Ex2 offset 841", ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &tac, &digest, &east, 0, nullptr, nullptr), 2650},
        {"Ex3 offset -721", ZORBELUShowTimeStampTokenPropWithVerificationEx3(nullptr, 0, &tac, &digestEx, &west, 0, nullptr, nullptr), 2650},
        {"Ex2 no TAC", ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &noTac, &digest, &jst, 5000, nullptr, nullptr), 1801},
        {"Ex3 no TSA certificate", ZORBELUShowTimeStampTokenPropWithVerificationEx3(nullptr, 1, &noCert, &digestEx, &jst, 5000, nullptr, nullptr), 1700},
        {"Ex2 null token", ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, nullptr, &digest, &jst, 0, nullptr, nullptr), 1001},
        {"Ex null token, not verified", ZORBELUShowTimeStampTokenPropWithVerificationEx(nullptr, 0, nullptr, &digest, nullptr, 0, nullptr), 1001},
        {"Ex no TAC, not verified", ZORBELUShowTimeStampTokenPropWithVerificationEx(nullptr, 0, &noTac, &digest, nullptr, 0, nullptr), 1801},
        {"Ex verify flag -1", ZORBELUShowTimeStampTokenPropWithVerificationEx(nullptr, -1, &tac, &digest, nullptr, 0, nullptr), 1001},
        // An error of the verification is handed back, no dialog.
        {"Ex2 unknown digest algorithm", ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 1, &tac, &badAlgorithm, &jst, 0, nullptr, nullptr), 1401},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_TRUE(Runs().empty());
    // A zone number and the edge offsets pass.
    const ZORBELUTimeZoneSelector edges[] = {{ZORBELU_TIME_ZONE_FIXED_OFFSET, 840}, {ZORBELU_TIME_ZONE_FIXED_OFFSET, -720}, jst};
    for (const ZORBELUTimeZoneSelector& zone : edges)
        EXPECT_EQ(ZORBELUShowTimeStampTokenPropWithVerificationEx2(nullptr, 0, &tac, &digest, &zone, 0, nullptr, nullptr), 2500u);
}

}  // namespace
