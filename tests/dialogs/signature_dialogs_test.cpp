// The signature properties dialogs on the headless backend: the plain and
// chained dialog (statuses, time text, issuer box and its removal, the chain
// of dialogs), the tabbed dialog (picture rule, summary, pages, keys),
// comparison and export with real files, and the argument checks of the
// exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/signature/signature_texts.h"
#include "dialogs/signature/token_comparison.h"
#include "dialogs/signature/verified_properties_dialog.h"
#include "dialogs/signature/verified_properties_tabbed.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "platform/module.h"
#include "ui/ui_headless.h"
#include "support/fixture_pki.h"
#include "support/served_pki.h"
#include "dialogs/dialog_test_pki.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using namespace zorbelu::dialogs::signature_ids;
namespace hl = platform::headless;
using dialogtest::Blob;
using dialogtest::Pki;

const std::string& TacToken() {
    static const std::string token = dialogtest::TokenWithTac(Pki());
    return token;
}

constexpr ZORBELUTimeZoneSelector kUtc{ZORBELU_TIME_ZONE_FIXED_OFFSET, 0};

// The picture that shows, 0 when none or several do.
int ShownPicture(const hl::WindowState& w) {
    int shown = 0;
    for (const int id : kStatusPictures) {
        const hl::ControlState* c = w.Find(id);
        if (c == nullptr || !c->visible) continue;
        if (shown != 0) return 0;
        shown = id;
    }
    return shown;
}

std::string Text(const hl::WindowState& w, int id) {
    const hl::ControlState* c = w.Find(id);
    return c != nullptr ? c->text : "<missing " + std::to_string(id) + ">";
}

class SignatureDialogs : public testing::Test {
protected:
    void SetUp() override {
        frame::AfxSetResourceHandle(platform::OwnModuleHandle());
        hl::Reset();
        hl::ClearRecordedMessageBoxes();
        ZORBELUPRVSetDoDisplayedIssuerInfo(1);
        ZORBELUPRVSetDoDisplayedTempravoLogo(1);
    }

    // The window of the one dialog an export showed, as it opened.
    static hl::WindowState Opened() {
        EXPECT_EQ(hl::Runs().size(), 1u);
        return hl::Runs().empty() ? hl::WindowState{} : hl::Runs().back().atStart;
    }
};

// ---- Texts of the plain dialog -------------------------------------------------------

TEST_F(SignatureDialogs, EveryStatusHasItsMessageAndPicture) {
    const struct {
        uint32_t status;
        int picture;
    } cases[] = {
        {2500, kPictureQuestion}, {2501, kPictureCheck},   {2502, kPictureCross},   {2503, kPictureCross},
        {2504, kPictureCross},    {2505, kPictureCross},   {2506, kPictureQuestion}, {2507, kPictureQuestion},
        {2508, kPictureCross},    {2509, kPictureWarning}, {2510, kPictureCheck},    {2511, kPictureWarning},
        {2512, kPictureQuestion},
    };
    const ZORBELUBlob token = Blob(TacToken());
    std::set<std::string> messages;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        hl::Reset();
        ASSERT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token, c.status, &kUtc), 1u);
        const hl::WindowState w = Opened();
        EXPECT_EQ(w.templateId, kTemplateVerifiedProperties);
        EXPECT_EQ(ShownPicture(w), c.picture);
        EXPECT_TRUE(messages.insert(Text(w, kMessageText)).second) << "a message of another status";
        EXPECT_TRUE(w.Find(kDetails)->enabled);
        // The fixture's policy belongs to no known service.
        EXPECT_EQ(Text(w, kServiceText), " Unknown");
        EXPECT_EQ(Text(w, kPolicyText), " " + PolicyOf(ReadTokenInfo(&token)));
    }
    EXPECT_EQ(Text(Opened(), kMessageText).rfind("Cannot confirm authenticity of time-stamp for extension", 0), 0u);
}

// The status message comes from the host's resource module when it is one.
TEST_F(SignatureDialogs, StatusMessageFromTheHostsResourceModuleWhenItIsOne) {
    int notAModule = 0;
    void* german = dlopen(GERMAN_LANGUAGE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(german, nullptr);
    const struct {
        const char* what;
        ZORBELU_HINSTANCE host;
        const char* messageStart;
    } cases[] = {
        {"a pointer that is no module: the own texts", &notAModule, "Data has not been edited"},
        {"the host's German module", german, "Die Daten wurden nach"},
    };
    const ZORBELUBlob token = Blob(TacToken());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        hl::Reset();
        ASSERT_EQ(ZORBELUPRVSetResourceDLL(c.host, ZORBELU_PRIVATE_CALLER_CODE), 1u);
        const uint32_t shown = ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token, 2501, &kUtc);
        EXPECT_EQ(ZORBELUPRVSetResourceDLL(nullptr, ZORBELU_PRIVATE_CALLER_CODE), 1u);
        ASSERT_EQ(shown, 1u);
        EXPECT_EQ(Text(Opened(), kMessageText).rfind(c.messageStart, 0), 0u) << Text(Opened(), kMessageText);
    }
    dlclose(german);
}

TEST_F(SignatureDialogs, NotVerifiedWithoutTokenShowsUnknownTimeAndNoDetails) {
    ASSERT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, nullptr, 2500, nullptr), 1u);
    const hl::WindowState w = Opened();
    EXPECT_EQ(ShownPicture(w), kPictureQuestion);
    EXPECT_EQ(Text(w, kTimeText), " Unknown");
    EXPECT_EQ(Text(w, kServiceText), " Unknown");
    EXPECT_FALSE(w.Find(kDetails)->enabled);
}

TEST(SignatureTimeText, GenerationTimesAndZones) {
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    const ZORBELUTimeZoneSelector tokyo{ZORBELU_TIME_ZONE_FIXED_OFFSET, 540};
    const ZORBELUTimeZoneSelector west{ZORBELU_TIME_ZONE_FIXED_OFFSET, -330};
    const ZORBELUTimeZoneSelector dayAhead{ZORBELU_TIME_ZONE_FIXED_OFFSET, 1440};
    const ZORBELUTimeZoneSelector dayBehind{ZORBELU_TIME_ZONE_FIXED_OFFSET, -1440};
    const ZORBELUTimeZoneSelector pst{2, 0};   // a zone number of the table
    const ZORBELUTimeZoneSelector jst{22, 0};
    const struct {
        const char* genTime;
        const ZORBELUTimeZoneSelector* zone;
        const char* text;
    } cases[] = {
        {"20240101000000Z", &kUtc, " 2024/01/01 00:00:00 UTC"},
        {"20201231150000.120Z", &tokyo, " 2021/01/01 00:00:00.120 +09:00"},
        {"20240101000000.5Z", &kUtc, " 2024/01/01 00:00:00.5 UTC"},
        {"20240101000000.0500Z", &kUtc, " 2024/01/01 00:00:00.0500 UTC"},  // zeros kept
        {"20240101000000Z", &west, " 2023/12/31 18:30:00 -05:30"},
        {"20240101000000Z", &dayAhead, " 2024/01/02 00:00:00 +24:00"},
        {"20240101000000Z", &dayBehind, " 2023/12/31 00:00:00 -24:00"},
        {"20240701120000Z", &pst, " 2024/07/01 04:00:00 PST"},
        {"20240701120000Z", &jst, " 2024/07/01 21:00:00 JST"},
        {"20240101000000.Z", &kUtc, " Unknown"},    // a point with nothing after it
        {"20240101000000.5aZ", &kUtc, " Unknown"},  // a letter in the fraction
        {"2024010100000Z", &kUtc, " Unknown"},      // thirteen digits
        {"20240101000000", &kUtc, " Unknown"},      // no Z
        {"2024010100000aZ", &kUtc, " Unknown"},
        {"", &kUtc, " Unknown"},
        {"20240101000000Z", nullptr, " Unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.genTime);
        EXPECT_EQ(TimeStampingTimeText(c.genTime, c.zone), c.text);
    }
}

TEST_F(SignatureDialogs, ComputersZoneIsUsedByTheOneTokenExport) {
    setenv("TZ", "JST-9", 1);
    const ZORBELUBlob token = Blob(TacToken());
    ASSERT_EQ(ZORBELUPRVShowTimeStampTokenProp(nullptr, &token, 2501), 1u);
    const std::string time = Text(Opened(), kTimeText);
    EXPECT_EQ(time.substr(time.size() - 7), " +09:00") << time;
    unsetenv("TZ");
    tzset();
}

TEST_F(SignatureDialogs, SettingsShapeTheDialog) {
    ASSERT_EQ(ZORBELUPRVSetModuleName("Archive Signer", 14, ZORBELU_PRIVATE_CALLER_CODE), 1u);
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Stamp Check", 11, ZORBELU_PRIVATE_CALLER_CODE), 1u);
    ZORBELUPRVSetDoDisplayedTempravoLogo(0);
    const ZORBELUBlob token = Blob(TacToken());
    ASSERT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token, 2501, &kUtc), 1u);
    const hl::WindowState w = Opened();
    EXPECT_EQ(w.caption, "Stamp Check");
    EXPECT_EQ(Text(w, kModuleText), " Archive Signer");
    EXPECT_TRUE(w.Find(kModuleText)->visible);
    EXPECT_TRUE(w.Find(kModuleLabel)->visible);
    for (const int id : {kLogo, kCompanyLabel, kCompanyLine}) EXPECT_FALSE(w.Find(id)->visible) << id;
}

// Without the issuer box the dialog is shorter, the issuer controls hide and
// the controls below the box move up.
TEST_F(SignatureDialogs, CompactionMovesControlsUp) {
    const ZORBELUBlob token = Blob(TacToken());
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntryEx entry{2501, 1, 2513, 2515, &ref, &kUtc};
    for (const bool tabbed : {false, true}) {
        SCOPED_TRACE(tabbed ? "tabbed" : "plain");
        hl::WindowState shown[2];
        for (const int issuerInfo : {1, 0}) {
            hl::Reset();
            ZORBELUPRVSetDoDisplayedIssuerInfo(issuerInfo);
            ASSERT_EQ(tabbed ? ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1)
                             : ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token, 2501, &kUtc),
                      1u);
            shown[issuerInfo] = Opened();
        }
        EXPECT_GT(shown[1].height - shown[0].height, 100);
        for (const int id : {kDetails, platform::IDOK, kCompanyLabel, kCompanyLine})
            EXPECT_GT(shown[1].Find(id)->rect.y - shown[0].Find(id)->rect.y, 100) << id;
        for (const int id : {kIssuerBox, kServiceText, kPolicyText, kIssuerIntro, kServiceLabel, kPolicyLabel}) {
            EXPECT_TRUE(shown[1].Find(id)->visible) << id;
            EXPECT_FALSE(shown[0].Find(id)->visible) << id;
        }
    }
}

TEST_F(SignatureDialogs, ServiceNamesMatchWholePoliciesExactly) {
    const struct {
        const char* policy;
        const char* name;
    } cases[] = {
        {"0.2.440.731846.100.200.100", "Kovra Time-Stamp Service 3161"},
        {"0.2.440.731846.100.200.102", "Kovra Time-Stamp Service 3161"},
        {"0.2.440.731859.100.200.100", "KOVRA Time Stamp Service Type-Open-K"},
        {"1.2.410.100001.2.1.7.2", "Government Time Stamp Service"},
        {"1.2.410.100001.2.1.7.2 ", "Unknown"},
        {"0.2.440.731846.100.200.10", "Unknown"},
        {"", "Unknown"},
    };
    for (const auto& c : cases) EXPECT_EQ(frame::LoadResourceString(ServiceNameId(c.policy)), c.name) << c.policy;
}

// ---- Argument checks: refused before any dialog ----------------------------------------

TEST_F(SignatureDialogs, RefusedArgumentsShowNothing) {
    const ZORBELUBlob tac = Blob(TacToken());
    const ZORBELUBlob noTac = Blob(Pki().Token("good-sha256"));
    const ZORBELUBlob noCert = Blob(Pki().Token("good-sha256-nocert"));
    const std::string garbage = "not a token";
    const ZORBELUBlob unreadable = Blob(garbage);
    const ZORBELUBlob empty{tac.data, 0};
    const ZORBELUTimeZoneSelector day{ZORBELU_TIME_ZONE_FIXED_OFFSET, 1441};
    const ZORBELUTimeZoneSelector noZone{24, 0};
    const ZORBELUTokenRef ref{&tac, nullptr};
    const ZORBELUSignatureEntry good{2501, &ref, &kUtc};
    const ZORBELUSignatureEntry pair[] = {good, good};
    const ZORBELUSignatureEntry outOfRange[] = {good, {2513, &ref, nullptr}};
    const ZORBELUSignatureEntry noRef[] = {good, {2501, nullptr, nullptr}};
    const ZORBELUSignatureEntry badZone[] = {good, {2501, &ref, &day}};
    const ZORBELUSignatureEntryEx tabbedGood{2501, 1, 2513, 2515, &ref, &kUtc};
    const ZORBELUSignatureEntryEx certStatus{2503, 1, 2513, 2515, &ref, &kUtc};
    const ZORBELUSignatureEntryEx tabbedNoRef{2501, 1, 2513, 2515, nullptr, &kUtc};
    const ZORBELUSignatureEntryEx tabbedZone{2508, 1, 2513, 2515, &ref, &noZone};
    const struct {
        const char* what;
        uint32_t result;
        uint32_t expected;
    } cases[] = {
        {"one token: status 2510", ZORBELUPRVShowTimeStampTokenProp(nullptr, &tac, 2510), 1001},
        {"one token: status 2499", ZORBELUPRVShowTimeStampTokenProp(nullptr, &tac, 2499), 1001},
        {"one token: no token", ZORBELUPRVShowTimeStampTokenProp(nullptr, nullptr, 2501), 1001},
        {"one token: empty token", ZORBELUPRVShowTimeStampTokenProp(nullptr, &empty, 2501), 1001},
        {"one token: unreadable", ZORBELUPRVShowTimeStampTokenProp(nullptr, &unreadable, 2501), 2001},
        {"one token: no TSA certificate", ZORBELUPRVShowTimeStampTokenProp(nullptr, &noCert, 2501), 1700},
        {"one token: no TAC", ZORBELUPRVShowTimeStampTokenProp(nullptr, &noTac, 2501), 1801},
        {"zone: status 2513", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2513, &kUtc), 1001},
        {"zone: offset 1441", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2501, &day), 2650},
        {"zone: unknown zone number", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &tac, 2509, &noZone), 2650},
        {"zone: unreadable token", ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &unreadable, 2501, &kUtc), 2001},
        {"chain: one entry", ZORBELUPRVShowSignaturePropEx2(nullptr, pair, 1), 1001},
        {"chain: no entries", ZORBELUPRVShowSignaturePropEx2(nullptr, nullptr, 2), 1001},
        {"chain: status 2513", ZORBELUPRVShowSignaturePropEx2(nullptr, outOfRange, 2), 1001},
        {"chain: no token reference", ZORBELUPRVShowSignaturePropEx2(nullptr, noRef, 2), 1006},
        {"chain: zone", ZORBELUPRVShowSignaturePropEx2(nullptr, badZone, 2), 2650},
        {"tabbed: no entries", ZORBELUPRVShowSignaturePropEx3(nullptr, &tabbedGood, 0), 1001},
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

// ---- The chain of dialogs -----------------------------------------------------------

TEST_F(SignatureDialogs, ChainGoesOnOnlyThroughTheExtensionButton) {
    const ZORBELUBlob token = Blob(TacToken());
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntry entries[] = {{2510, &ref, &kUtc}, {2510, &ref, &kUtc}, {2501, &ref, &kUtc}};
    const ZORBELUSignatureEntryEx tabbed[] = {{2510, 1, 2513, 2515, &ref, &kUtc},
                                              {2510, 1, 2513, 2515, &ref, &kUtc},
                                              {2501, 1, 2513, 2515, &ref, &kUtc}};
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
            const uint32_t result = tabbedForm ? ZORBELUPRVShowSignaturePropEx3(nullptr, tabbed, 3)
                                               : ZORBELUPRVShowSignaturePropEx2(nullptr, entries, 3);
            EXPECT_EQ(result, 1u);
            ASSERT_EQ(hl::Runs().size(), c.templates.size());
            for (size_t i = 0; i < c.templates.size(); ++i) {
                const hl::WindowState& w = hl::Runs()[i].atStart;
                if (!tabbedForm) {
                    EXPECT_EQ(w.templateId, c.templates[i]);
                    continue;
                }
                EXPECT_EQ(w.templateId, kTemplateVerifiedPropertiesTabbed);
                const bool chained = c.templates[i] == 6019;
                EXPECT_EQ(w.Page(kTemplateStatusPage)->Find(kViewNext)->visible, chained);
            }
        }
    }
}

TEST_F(SignatureDialogs, DetailsOpensTheTokenDialogOfTheForm) {
    const ZORBELUBlob token = Blob(TacToken());
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntry entries[] = {{2501, &ref, &kUtc}, {2501, &ref, &kUtc}};
    hl::QueueScript({hl::Press(kDetails), hl::Press(kViewNext)});
    hl::QueueScript({hl::Press(platform::IDOK)});  // the extended token dialog
    hl::QueueScript({hl::Press(kDetails), hl::Press(platform::IDOK)});
    hl::QueueScript({hl::Press(platform::IDOK)});  // the basic token dialog
    ASSERT_EQ(ZORBELUPRVShowSignaturePropEx2(nullptr, entries, 2), 1u);
    std::vector<uint32_t> order;
    for (const hl::ModalRun& run : hl::Runs()) order.push_back(run.atStart.templateId);
    EXPECT_EQ(order, (std::vector<uint32_t>{6018, 6019, 130, 1058}));
}

// ---- The tabbed dialog ----------------------------------------------------------------

TEST(TabbedSignatureTexts, PictureRuleAndSummary) {
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    const auto line = [](uint32_t id) { return frame::LoadResourceString(id); };
    const struct {
        CheckResults results;
        int picture;
        std::vector<uint32_t> summary;
    } cases[] = {
        {{2501, 1, 2513, 2515}, kPictureCheck, {5002}},
        {{2510, 1, 2513, 2515}, kPictureCheck, {5068}},
        {{2500, 1, 2513, 2515}, kPictureQuestion, {5056}},
        {{2508, 1, 2513, 2515}, kPictureCross, {5009}},
        {{2501, 2502, 2513, 2515}, kPictureWarning, {5002, 5003}},
        {{2501, 1, 2513, 2503}, kPictureCross, {5002, 5064}},
        {{2501, 1, 2513, 2507}, kPictureCross, {5002, 5070}},
        {{2501, 1, 2504, 2515}, kPictureCross, {5002, 5059}},
        {{2501, 1, 2506, 2516}, kPictureWarning, {5002, 5062, 5065}},
        {{2501, 1, 2506, 2515}, kPictureCross, {5002, 5062}},
        {{2501, 2502, 2506, 2515}, kPictureWarning, {5002, 5003, 5062}},
        {{2501, 1, 2514, 2515}, kPictureWarning, {5002, 5060}},
        {{2501, 1, 2505, 2515}, kPictureWarning, {5002, 5061}},
        {{2512, 1, 2513, 2515}, kPictureWarning, {6022}},
        {{2509, 1, 2513, 2515}, kPictureWarning, {5010}},
        {{2511, 1, 2513, 2515}, kPictureWarning, {5069}},
        {{2501, 77, 2513, 12345}, kPictureWarning, {5002}},  // codes without a line are left out
    };
    for (const auto& c : cases) {
        const CheckResults& r = c.results;
        SCOPED_TRACE(std::to_string(r.status) + "/" + std::to_string(r.validity) + "/" +
                     std::to_string(r.revocation) + "/" + std::to_string(r.root));
        EXPECT_EQ(TabbedStatusPicture(r), c.picture);
        const auto lineOf = [&](uint32_t id) { return id != 0 ? line(id) : std::string(); };
        const std::string summary =
            SummaryText(lineOf(IntegrityLineId(r.status)), r, lineOf(ValidityLineId(r.validity)),
                        lineOf(RevocationLineId(r.revocation)), lineOf(RootLineId(r.root)));
        std::string expected;
        for (const uint32_t id : c.summary) expected += (expected.empty() ? "" : "\r\n") + line(id);
        EXPECT_EQ(summary, expected);
    }
}

TEST_F(SignatureDialogs, TabbedDialogPagesAndTabs) {
    const ZORBELUBlob token = Blob(TacToken());
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntryEx entry{2501, 2502, 2513, 2515, &ref, &kUtc};
    std::vector<hl::WindowState> seen;
    const auto look = [&seen] { return hl::Look([&seen](const hl::WindowState& w) { seen.push_back(w); }); };
    hl::QueueScript({look(), hl::Pick(tabbed_ids::kTabs, 1), look(), hl::Pick(tabbed_ids::kTabs, 2), look(),
                     hl::Press(platform::IDOK)});
    ASSERT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1), 1u);
    ASSERT_EQ(seen.size(), 3u);

    const hl::WindowState& first = seen[0];
    EXPECT_EQ(first.Find(tabbed_ids::kTabs)->items.size(), 3u);
    EXPECT_EQ(first.Find(tabbed_ids::kTabs)->selected, 0);
    ASSERT_EQ(first.pages.size(), 3u);
    const hl::WindowState* status = first.Page(kTemplateStatusPage);
    const hl::WindowState* details = first.Page(kTemplateDetailsPage);
    EXPECT_TRUE(status->visible);
    EXPECT_FALSE(details->visible);
    EXPECT_FALSE(first.Page(kTemplateCompareToken)->visible);
    EXPECT_EQ(ShownPicture(*status), kPictureWarning);
    EXPECT_EQ(Text(*status, kMessageText),
              "Data has not been edited after time-stamping.\r\nCertificate used for time-stamp has expired.");
    EXPECT_EQ(Text(*status, kTimeText).substr(0, 1), " ");
    EXPECT_FALSE(status->Find(kViewNext)->visible);
    EXPECT_EQ(Text(*details, tabbed_ids::kIntegrityLine), "Data has not been edited after time-stamping.");
    EXPECT_EQ(Text(*details, tabbed_ids::kValidityLine), "Certificate used for time-stamp has expired.");

    // One page at a time; picking a tab puts the focus on OK.
    EXPECT_TRUE(seen[1].Page(kTemplateDetailsPage)->visible);
    EXPECT_FALSE(seen[1].Page(kTemplateStatusPage)->visible);
    EXPECT_EQ(seen[1].focusId, platform::IDOK);
    EXPECT_TRUE(seen[2].Page(kTemplateCompareToken)->visible);
    EXPECT_FALSE(seen[2].Page(kTemplateDetailsPage)->visible);
}

TEST_F(SignatureDialogs, UnreadableTokenDisablesDetailsChooseAndExport) {
    const std::string garbage = "not a token";
    const ZORBELUBlob token = Blob(garbage);
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntryEx entry{2500, 1, 2513, 2515, &ref, &kUtc};
    ASSERT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1), 1u);
    const hl::WindowState w = Opened();
    EXPECT_FALSE(w.Find(kDetails)->enabled);
    const hl::WindowState* compare = w.Page(kTemplateCompareToken);
    for (const int id : {compare_ids::kChoose, compare_ids::kCompare, compare_ids::kExport})
        EXPECT_FALSE(compare->Find(id)->enabled) << id;
}

// ---- Comparison and export --------------------------------------------------------------

class TokenFiles : public SignatureDialogs {
protected:
    std::filesystem::path Write(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = dir_.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Shows the tabbed dialog on its comparison page and plays `actions`
    // there; the result dialogs it opens get OK.
    void OnComparePage(std::vector<hl::Action> actions, int resultDialogs) {
        std::vector<hl::Action> script{hl::Pick(tabbed_ids::kTabs, 2)};
        script.insert(script.end(), actions.begin(), actions.end());
        script.push_back(hl::Press(platform::IDOK));
        hl::QueueScript(script);
        for (int i = 0; i < resultDialogs; ++i) hl::QueueScript({hl::Press(platform::IDOK)});
        const ZORBELUBlob token = Blob(TacToken());
        const ZORBELUTokenRef ref{&token, nullptr};
        const ZORBELUSignatureEntryEx entry{2501, 1, 2513, 2515, &ref, &kUtc};
        ASSERT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1), 1u);
    }
    test::TempDir dir_;
};

TEST_F(TokenFiles, CompareGivesMatchMismatchOrUnreadable) {
    const std::string& token = TacToken();
    std::string altered = token;
    altered[altered.size() / 2] ^= 0x01;
    const struct {
        const char* what;
        std::string path;
        int picture;
        const char* message;
    } cases[] = {
        {"equal", Write("equal.tst", token).string(), kPictureCheck, "Verified time-stamp token has been matched"},
        {"longer", Write("longer.tst", token + "tail").string(), kPictureCheck,
         "Verified time-stamp token has been matched"},
        {"different", Write("altered.tst", altered).string(), kPictureCross, "Verified time-stamp token has not"},
        {"shorter", Write("short.tst", token.substr(0, token.size() - 1)).string(), kPictureCross,
         "Verified time-stamp token has not"},
        {"gone", (dir_.path() / "missing.tst").string(), kPictureWarning, "Cannot open the time-stamp token file"},
        {"a folder", dir_.path().string(), kPictureWarning, "Cannot open the time-stamp token file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        hl::Reset();
        hl::QueueFileAnswer(c.path);
        OnComparePage({hl::Press(compare_ids::kChoose), hl::Press(compare_ids::kCompare)}, 1);
        ASSERT_EQ(hl::Runs().size(), 2u);
        const hl::WindowState& result = hl::Runs()[0].atStart;
        EXPECT_EQ(result.templateId, kTemplateCompareResult);
        EXPECT_EQ(ShownPicture(result), c.picture);
        EXPECT_EQ(Text(result, compare_ids::kCompareMessage).rfind(c.message, 0), 0u);
        EXPECT_EQ(Text(*hl::Runs()[1].atEnd.Page(kTemplateCompareToken), compare_ids::kPath), c.path);
    }
    ASSERT_FALSE(hl::FileRequests().empty());
    EXPECT_FALSE(hl::FileRequests().front().save);
}

// The folder opener stand-in writes the folder it was given to a file.
class FolderOpenerStandIn {
public:
    explicit FolderOpenerStandIn(const std::filesystem::path& dir) : record_(dir / "opened.txt") {
        script_ = dir / "opener.sh";
        std::ofstream(script_) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << record_.string() << ".part' && mv '"
                               << record_.string() << ".part' '" << record_.string() << "'\n";
        std::filesystem::permissions(script_, std::filesystem::perms::owner_all);
        setenv("ZORBELU_FOLDER_OPENER", script_.c_str(), 1);
    }
    ~FolderOpenerStandIn() { unsetenv("ZORBELU_FOLDER_OPENER"); }
    // The folder it opened, waiting a little for the detached process.
    std::string Opened() const {
        for (int i = 0; i < 100 && !std::filesystem::exists(record_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(record_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path record_;
    std::filesystem::path script_;
};

// A typed name gains ".tst"; replacing an existing file of that final name
// is asked first, in the language of the resource module, and a "no" shows
// the chooser again.
TEST_F(TokenFiles, ExportAsksBeforeReplacingTheFinalNameAndOpensItsFolder) {
    const struct {
        const char* language;
        const char* module;  // NULL: the library's own texts
        std::vector<std::string> texts;  // title, accept, cancel, yes, no, question start
    } cases[] = {
        {"English", nullptr, {"Save As", "&Save", "Cancel", "&Yes", "&No", "/export.tst already exists."}},
        {"German", GERMAN_LANGUAGE_MODULE,
         {"Speichern unter", "&Speichern", "Abbrechen", "&Ja", "&Nein", "/export.tst ist bereits vorhanden."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        hl::Reset();
        hl::ClearRecordedMessageBoxes();
        platform::HINSTANCE module = c.module ? platform::LoadLibraryA(c.module) : platform::OwnModuleHandle();
        frame::AfxSetResourceHandle(module);
        std::filesystem::remove(dir_.path() / "opened.txt");
        FolderOpenerStandIn opener(dir_.path());
        const std::filesystem::path target = Write("export.tst", std::string(20000, 'x'));  // replaced whole
        for (const int answer : {platform::IDNO, platform::IDYES}) {
            hl::QueueFileAnswer((dir_.path() / "export").string());
            hl::QueueMessageBoxAnswer(answer);
        }
        OnComparePage({hl::Press(compare_ids::kExport)}, 1);
        frame::AfxSetResourceHandle(platform::OwnModuleHandle());
        platform::FreeLibrary(module);
        ASSERT_EQ(hl::Runs().size(), 2u);
        EXPECT_EQ(hl::Runs()[0].atStart.templateId, kTemplateExportResult);
        std::ifstream in(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), TacToken());
        EXPECT_EQ(opener.Opened(), dir_.path().string() + "/");
        ASSERT_EQ(hl::FileRequests().size(), 2u);  // asked again after the "no"
        const hl::FileRequest& request = hl::FileRequests().front();
        EXPECT_TRUE(request.save);
        EXPECT_EQ(request.defaultExtension, "tst");
        EXPECT_EQ((std::vector<std::string>{request.title, request.acceptLabel, request.cancelLabel}),
                  (std::vector<std::string>{c.texts[0], c.texts[1], c.texts[2]}));
        const auto& boxes = platform::headless::RecordedMessageBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].buttons, (std::vector<std::string>{c.texts[3], c.texts[4]}));
        EXPECT_EQ(boxes[0].text.rfind(dir_.path().string() + c.texts[5], 0), 0u) << boxes[0].text;
    }
}

TEST_F(TokenFiles, ExportIntoAReadOnlyFolderFailsCleanly) {
    FolderOpenerStandIn opener(dir_.path());
    // Root writes into any folder whatever its mode: /proc takes no new files.
    const std::filesystem::path readOnly = dir_.path() / "read-only";
    std::filesystem::create_directory(readOnly);
    chmod(readOnly.c_str(), 0555);
    const std::string target = geteuid() == 0 ? "/proc/zorbelu-export.tst" : (readOnly / "token.tst").string();
    hl::QueueFileAnswer(target);
    OnComparePage({hl::Press(compare_ids::kExport)}, 1);
    ASSERT_EQ(hl::Runs().size(), 2u);
    EXPECT_EQ(Text(hl::Runs()[0].atStart, compare_ids::kExportMessage), "Failed to export the time-stamp token file.");
    EXPECT_FALSE(std::filesystem::exists(target));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "opened.txt"));
    chmod(readOnly.c_str(), 0755);
}

}  // namespace
