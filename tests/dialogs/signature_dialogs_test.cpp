// The signature properties dialogs on the headless backend: plain, chained, tabbed, compare, export, verify-then-show.
#include <cstring>
#include <functional>
#include <set>

#include "dialogs/dialog_test_util.h"
#include "dialogs/signature/signature_dialog_parts.h"
#include "dialogs/signature/token_comparison.h"
#include "dialogs/signature/verified_properties_dialog.h"
#include "dialogs/signature/verified_properties_tabbed.h"
#include "frame/resource_text.h"
#include "ui/message_box.h"
#include "verify/verify_test_support.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using namespace zorbelu::dialogs::signature_ids;
using namespace zorbelu::dialogtest;

const std::string& TacToken() {
    static const std::string token = TokenWithTac();
    return token;
}

constexpr ZORBELUTimeZoneSelector kUtc{ZORBELU_TIME_ZONE_FIXED_OFFSET, 0};

class SignatureDialogs : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        ZORBELUPRVSetDoDisplayedIssuerInfo(1);
        ZORBELUPRVSetDoDisplayedTempravoLogo(1);
    }
    const ZORBELUBlob token_ = Blob(TacToken());
    const ZORBELUTokenRef ref_{&token_, nullptr};
};

// Each status has its own message and its picture.
TEST_F(SignatureDialogs, EveryStatusHasItsMessageAndPicture) {
    const int q = kPictureQuestion, ok = kPictureCheck, x = kPictureCross, warn = kPictureWarning;
    const int pictures[] = {q, ok, x, x, x, x, q, q, x, warn, ok, warn, q};  // statuses 2500..2512
    std::set<std::string> messages;
    for (uint32_t status = 2500; status <= 2512; ++status) {
        SCOPED_TRACE(status);
        hl::Reset();
        ASSERT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token_, status, &kUtc), 1u);
        const hl::WindowState w = Opened();
        EXPECT_EQ(w.templateId, kTemplateVerifiedProperties);
        EXPECT_EQ(ShownPicture(w), pictures[status - 2500]);
        EXPECT_TRUE(messages.insert(Text(w, kMessageText)).second) << "a message of another status";
        EXPECT_TRUE(w.Find(kDetails)->enabled);
        EXPECT_EQ(Text(w, kServiceText), " Unknown");  // the fixture's policy belongs to no known service
        EXPECT_EQ(Text(w, kPolicyText), " " + PolicyOf(ReadTokenInfo(&token_)));
    }
    EXPECT_EQ(Text(Opened(), kMessageText).rfind("Cannot confirm authenticity of time-stamp for extension", 0), 0u);
    // Without a token: unknown time and service, no details.
    hl::Reset();
    ASSERT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, nullptr, 2500, nullptr), 1u);
    EXPECT_EQ(Text(Opened(), kTimeText) + Text(Opened(), kServiceText), " Unknown Unknown");
    EXPECT_FALSE(Opened().Find(kDetails)->enabled);
}

TEST(SignatureTimeText, GenerationTimesAndZones) {
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    const auto fixed = [](int32_t minutes) { return ZORBELUTimeZoneSelector{ZORBELU_TIME_ZONE_FIXED_OFFSET, minutes}; };
    const struct {
        const char* genTime;
        std::optional<ZORBELUTimeZoneSelector> zone;
        const char* text;
    } cases[] = {  // the last rows: a bare point, a letter in the fraction, 13 digits, no Z, no zone
        {"20240101000000Z", kUtc, " 2024/01/01 00:00:00 UTC"},
        {"20201231150000.120Z", fixed(540), " 2021/01/01 00:00:00.120 +09:00"},
        {"20240101000000.5Z", kUtc, " 2024/01/01 00:00:00.5 UTC"},
        {"20240101000000.0500Z", kUtc, " 2024/01/01 00:00:00.0500 UTC"},  // zeros kept
        {"20240101000000Z", fixed(-330), " 2023/12/31 18:30:00 -05:30"},
        {"20240101000000Z", fixed(-30), " 2023/12/31 23:30:00 -00:30"},
        {"20240101000000Z", ZORBELUTimeZoneSelector{17, 0}, " 2024/01/01 01:00:00 MEZ"},
        {"20240101000000Z", fixed(1440), " 2024/01/02 00:00:00 +24:00"},
        {"20240101000000Z", fixed(-1440), " 2023/12/31 00:00:00 -24:00"},
        {"20240701120000Z", ZORBELUTimeZoneSelector{22, 0}, " 2024/07/01 21:00:00 JST"},  // zone numbers of the table
        {"20240101000000.Z", kUtc, " Unknown"},  {"20240101000000.5aZ", kUtc, " Unknown"},
        {"2024010100000Z", kUtc, " Unknown"},    {"20240101000000", kUtc, " Unknown"},
        {"20240101000000Z", std::nullopt, " Unknown"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeStampingTimeText(c.genTime, c.zone ? &*c.zone : nullptr), c.text) << c.genTime;
}

TEST_F(SignatureDialogs, ComputersZoneIsUsedByTheOneTokenExport) {
    setenv("TZ", "JST-9", 1);
    ASSERT_EQ(ZORBELUPRVShowTimeStampTokenProp(nullptr, &token_, 2501), 1u);
    const std::string time = Text(Opened(), kTimeText);
    EXPECT_EQ(time.substr(time.size() - 7), " +09:00") << time;
    unsetenv("TZ");
    tzset();
}

// Without the issuer box, in both forms, the issuer controls hide and the dialog is shorter.
TEST_F(SignatureDialogs, WithoutTheIssuerBoxTheDialogIsShorter) {
    const ZORBELUSignatureEntryEx entry{2501, 1, 2513, 2515, &ref_, &kUtc};
    for (const bool tabbed : {false, true}) {
        SCOPED_TRACE(tabbed ? "tabbed" : "plain");
        hl::WindowState shown[2];
        for (const int issuerInfo : {1, 0}) {
            hl::Reset();
            ZORBELUPRVSetDoDisplayedIssuerInfo(issuerInfo);
            ASSERT_EQ(tabbed ? ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1)
                             : ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token_, 2501, &kUtc),
                      1u);
            shown[issuerInfo] = Opened();
        }
        EXPECT_GT(shown[1].height - shown[0].height, 100);
        for (const int id : {kIssuerBox, kServiceText, kPolicyLabel})
            EXPECT_TRUE(shown[1].Find(id)->visible && !shown[0].Find(id)->visible) << id;
    }
}

TEST_F(SignatureDialogs, RefusedArgumentsShowNothing) {
    const ZORBELUBlob tac = token_, noTac = Blob(Pki().Token("good-sha256"));
    const ZORBELUBlob noCert = Blob(Pki().Token("good-sha256-nocert"));
    const ZORBELUBlob unreadable{reinterpret_cast<const uint8_t*>("not a token"), 11};
    const ZORBELUTimeZoneSelector day{ZORBELU_TIME_ZONE_FIXED_OFFSET, 1441}, noZone{24, 0};
    const ZORBELUSignatureEntry good{2501, &ref_, &kUtc}, pair[] = {good, good},
                                badZone[] = {good, {2501, &ref_, &day}};
    const ZORBELUSignatureEntry outOfRange[] = {good, {2513, &ref_, nullptr}}, noRef[] = {good, {2501, nullptr, {}}};
    const ZORBELUSignatureEntryEx certStatus{2503, 1, 2513, 2515, &ref_, &kUtc};
    const ZORBELUSignatureEntryEx tabbedNoRef{2501, 1, 2513, 2515, nullptr, &kUtc};
    const ZORBELUSignatureEntryEx tabbedZone{2508, 1, 2513, 2515, &ref_, &noZone};
    const struct {
        const char* what;
        uint32_t result, expected;
    } cases[] = {
        {"one token: status 2510", ZORBELUPRVShowTimeStampTokenProp(nullptr, &tac, 2510), 1001},
        {"one token: status 2499", ZORBELUPRVShowTimeStampTokenProp(nullptr, &tac, 2499), 1001},
        {"one token: no token", ZORBELUPRVShowTimeStampTokenProp(nullptr, nullptr, 2501), 1001},
        {"one token: unreadable", ZORBELUPRVShowTimeStampTokenProp(nullptr, &unreadable, 2501), 2001},
        {"one token: no TSA certificate", ZORBELUPRVShowTimeStampTokenProp(nullptr, &noCert, 2501), 1700},
        {"one token: no TAC", ZORBELUPRVShowTimeStampTokenProp(nullptr, &noTac, 2501), 1801},
        {"zone: status 2513", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2513, &kUtc), 1001},
        {"zone: offset 1441", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2501, &day), 2650},
        {"zone: unknown zone number", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2509, &noZone), 2650},
        {"zone: unreadable token", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &unreadable, 2501, &kUtc), 2001},
        {"chain: one entry", ZORBELUPRVShowSignaturePropEx2(nullptr, pair, 1), 1001},
        {"chain: status 2513", ZORBELUPRVShowSignaturePropEx2(nullptr, outOfRange, 2), 1001},
        {"chain: no token reference", ZORBELUPRVShowSignaturePropEx2(nullptr, noRef, 2), 1006},
        {"chain: zone", ZORBELUPRVShowSignaturePropEx2(nullptr, badZone, 2), 2650},
        {"tabbed: certificate status", ZORBELUPRVShowSignaturePropEx3(nullptr, &certStatus, 1), 1001},
        {"tabbed: no token reference", ZORBELUPRVShowSignaturePropEx3(nullptr, &tabbedNoRef, 1), 1006},
        {"tabbed: zone", ZORBELUPRVShowSignaturePropEx3(nullptr, &tabbedZone, 1), 2650},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_TRUE(hl::Runs().empty());
    // The widest accepted offset, and statuses that test nothing.
    const ZORBELUTimeZoneSelector widest{ZORBELU_TIME_ZONE_FIXED_OFFSET, -1440};
    EXPECT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2501, &widest), 1u);
    EXPECT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &unreadable, 2512, &day), 1u);
}

TEST_F(SignatureDialogs, ChainGoesOnOnlyThroughTheExtensionButton) {
    const ZORBELUSignatureEntry entries[] = {{2510, &ref_, &kUtc}, {2510, &ref_, &kUtc}, {2501, &ref_, &kUtc}};
    const ZORBELUSignatureEntryEx tabbed[] = {
        {2510, 1, 2513, 2515, &ref_, &kUtc}, {2510, 1, 2513, 2515, &ref_, &kUtc}, {2501, 1, 2513, 2515, &ref_, &kUtc}};
    const struct {
        const char* what;
        std::vector<std::vector<hl::Action>> scripts;
        std::vector<uint32_t> templates;
    } cases[] = {
        {"OK ends the chain", {{hl::Press(platform::IDOK)}}, {6019}},
        {"all the way", {{hl::Press(kViewNext)}, {hl::Press(kViewNext)}, {hl::Press(platform::IDOK)}},
         {6019, 6019, 1058}},
        {"closed on the second", {{hl::Press(kViewNext)}, {}}, {6019, 6019}},
    };
    for (const bool tabbedForm : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (tabbedForm ? " (tabbed)" : ""));
            hl::Reset();
            for (const auto& script : c.scripts) hl::QueueScript(script);
            EXPECT_EQ(tabbedForm ? ZORBELUPRVShowSignaturePropEx3(nullptr, tabbed, 3)
                                 : ZORBELUPRVShowSignaturePropEx2(nullptr, entries, 3),
                      1u);
            ASSERT_EQ(hl::Runs().size(), c.templates.size());
            for (size_t i = 0; i < c.templates.size(); ++i) {
                const hl::WindowState& w = hl::Runs()[i].atStart;
                EXPECT_EQ(w.templateId, tabbedForm ? kTemplateVerifiedPropertiesTabbed : c.templates[i]);
                const bool nextShown = c.templates[i] == 6019;
                EXPECT_TRUE(!tabbedForm || w.Page(kTemplateStatusPage)->Find(kViewNext)->visible == nextShown);
            }
        }
    }
}

TEST(TabbedSignatureTexts, PictureRuleAndSummary) {
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    const auto line = [](uint32_t id) { return id != 0 ? frame::LoadResourceString(id) : std::string(); };
    const struct {
        CheckResults results;
        int picture;
        std::vector<uint32_t> summary;
    } cases[] = {  // the last row: codes without a line are left out
        {{2501, 1, 2513, 2515}, kPictureCheck, {5002}},
        {{2510, 1, 2513, 2515}, kPictureCheck, {5068}},
        {{2500, 1, 2513, 2515}, kPictureQuestion, {5056}},
        {{2508, 1, 2513, 2515}, kPictureCross, {5009}},
        {{2501, 2502, 2513, 2515}, kPictureWarning, {5002, 5003}},
        {{2501, 1, 2513, 2503}, kPictureCross, {5002, 5064}},
        {{2501, 1, 2504, 2515}, kPictureCross, {5002, 5059}},
        {{2501, 1, 2506, 2516}, kPictureWarning, {5002, 5062, 5065}},
        {{2501, 1, 2506, 2515}, kPictureCross, {5002, 5062}},
        {{2501, 2502, 2506, 2515}, kPictureWarning, {5002, 5003, 5062}},
        {{2501, 1, 2514, 2515}, kPictureWarning, {5002, 5060}},
        {{2512, 1, 2513, 2515}, kPictureWarning, {6022}},
        {{2509, 1, 2513, 2515}, kPictureWarning, {5010}},
        {{2501, 77, 2513, 12345}, kPictureWarning, {5002}},
    };
    for (const auto& c : cases) {
        const CheckResults& r = c.results;
        SCOPED_TRACE(testing::Message() << r.status << "/" << r.validity << "/" << r.revocation << "/" << r.root);
        EXPECT_EQ(TabbedStatusPicture(r), c.picture);
        std::string expected;
        for (const uint32_t id : c.summary) expected += (expected.empty() ? "" : "\r\n") + line(id);
        EXPECT_EQ(SummaryText(line(IntegrityLineId(r.status)), r, line(ValidityLineId(r.validity)),
                              line(RevocationLineId(r.revocation)), line(RootLineId(r.root))),
                  expected);
    }
}

TEST_F(SignatureDialogs, TabbedDialogPagesAndTabs) {
    const ZORBELUSignatureEntryEx entry{2501, 2502, 2513, 2515, &ref_, &kUtc};
    std::vector<hl::WindowState> seen;
    const auto look = [&seen] { return hl::Look([&seen](const hl::WindowState& w) { seen.push_back(w); }); };
    hl::QueueScript({look(), hl::Pick(tabbed_ids::kTabs, 1), look(), hl::Pick(tabbed_ids::kTabs, 2), look(),
                     hl::Press(platform::IDOK)});
    ASSERT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1), 1u);
    ASSERT_EQ(seen.size(), 3u);
    const hl::WindowState *status = seen[0].Page(kTemplateStatusPage), *details = seen[0].Page(kTemplateDetailsPage);
    EXPECT_EQ(ShownPicture(*status), kPictureWarning);
    EXPECT_EQ(Text(*status, kMessageText),
              "Data has not been edited after time-stamping.\r\nCertificate used for time-stamp has expired.");
    EXPECT_FALSE(status->Find(kViewNext)->visible);
    EXPECT_EQ(Text(*details, tabbed_ids::kValidityLine), "Certificate used for time-stamp has expired.");
    EXPECT_TRUE(seen[2].Page(kTemplateCompareToken)->visible && !seen[2].Page(kTemplateStatusPage)->visible);
}

TEST_F(SignatureDialogs, UnreadableTokenDisablesDetailsChooseAndExport) {
    const ZORBELUBlob token{reinterpret_cast<const uint8_t*>("not a token"), 11};
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntryEx entry{2500, 1, 2513, 2515, &ref, &kUtc};
    ASSERT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1), 1u);
    const hl::WindowState w = Opened();
    EXPECT_FALSE(w.Find(kDetails)->enabled);
    for (const int id : {compare_ids::kChoose, compare_ids::kCompare, compare_ids::kExport})
        EXPECT_FALSE(w.Page(kTemplateCompareToken)->Find(id)->enabled) << id;
}

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

// ---- Comparison and export ----------------------------------------------------------

class TokenFiles : public SignatureDialogs {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_.path() / name, std::ios::binary) << bytes;
        return (dir_.path() / name).string();
    }
    // Plays `actions` on the comparison page of the tabbed dialog; the result dialog it opens gets OK.
    void OnComparePage(std::vector<hl::Action> actions) {
        actions.insert(actions.begin(), hl::Pick(tabbed_ids::kTabs, 2));
        actions.push_back(hl::Press(platform::IDOK));
        hl::QueueScript(actions);
        hl::QueueScript({hl::Press(platform::IDOK)});
        const ZORBELUSignatureEntryEx entry{2501, 1, 2513, 2515, &ref_, &kUtc};
        ASSERT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1), 1u);
        ASSERT_EQ(hl::Runs().size(), 2u);
    }
    test::TempDir dir_;
};

TEST_F(TokenFiles, CompareGivesMatchMismatchOrUnreadable) {
    const std::string& token = TacToken();
    std::string altered = token;
    altered[altered.size() / 2] ^= 0x01;
    const char *matched = "Verified time-stamp token has been matched", *differs = "Verified time-stamp token has not",
               *unreadable = "Cannot open the time-stamp token file";
    const struct {
        std::string path;
        int picture;
        const char* message;
    } cases[] = {{Write("equal.tst", token), kPictureCheck, matched},
                 {Write("longer.tst", token + "tail"), kPictureCheck, matched},
                 {Write("altered.tst", altered), kPictureCross, differs},
                 {Write("short.tst", token.substr(0, token.size() - 1)), kPictureCross, differs},
                 {(dir_.path() / "missing.tst").string(), kPictureWarning, unreadable},
                 {dir_.path().string(), kPictureWarning, unreadable}};  // the last: a folder
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        hl::Reset();
        hl::QueueFileAnswer(c.path);
        OnComparePage({hl::Press(compare_ids::kChoose), hl::Press(compare_ids::kCompare)});
        const hl::WindowState& result = hl::Runs()[0].atStart;
        EXPECT_EQ(result.templateId, kTemplateCompareResult);
        EXPECT_EQ(ShownPicture(result), c.picture);
        EXPECT_EQ(Text(result, compare_ids::kCompareMessage).rfind(c.message, 0), 0u);
        EXPECT_EQ(Text(*hl::Runs()[1].atEnd.Page(kTemplateCompareToken), compare_ids::kPath), c.path);
        ASSERT_FALSE(hl::FileRequests().empty());
        EXPECT_FALSE(hl::FileRequests().front().save);
    }
}

// A typed name gains ".tst"; replacing that final name is asked first, and a "no" asks for a name again.
TEST_F(TokenFiles, ExportAsksBeforeReplacingTheFinalName) {
    setenv("ZORBELU_FOLDER_OPENER", "true", 1);
    const std::string target = Write("export.tst", std::string(20000, 'x'));  // replaced whole
    for (const int answer : {platform::IDNO, platform::IDYES}) {
        hl::QueueFileAnswer((dir_.path() / "export").string());
        hl::QueueMessageBoxAnswer(answer);
    }
    OnComparePage({hl::Press(compare_ids::kExport)});
    EXPECT_EQ(hl::Runs()[0].atStart.templateId, kTemplateExportResult);
    EXPECT_EQ(test::ReadFileBytes(target), TacToken());
    ASSERT_EQ(hl::FileRequests().size(), 2u);  // asked again after the "no"
    const hl::FileRequest& request = hl::FileRequests().front();
    EXPECT_TRUE(request.save && request.defaultExtension == "tst");
    const auto& boxes = hl::RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].owner != nullptr && boxes[0].owner == hl::Runs()[0].atStart.owner);  // the dialog's window
    EXPECT_EQ(boxes[0].buttons, (std::vector<std::string>{"&Yes", "&No"}));
    EXPECT_EQ(boxes[0].text.rfind(dir_.path().string() + "/export.tst already exists.", 0), 0u) << boxes[0].text;
    unsetenv("ZORBELU_FOLDER_OPENER");
}

}  // namespace
