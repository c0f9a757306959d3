// The time-stamp token properties dialog on the headless backend: every
// field of a real token and of fixture tokens, which buttons a token leaves
// enabled, what the buttons open and the messages of their failures, the two
// exports' argument checks, and templates 130, 6018 and 6047 in every
// language, with those of the signature properties dialogs.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/test_util.h"
#include "core/test_util.h"
#include "dialogs/signature/token_comparison.h"
#include "dialogs/signature/verified_properties_tabbed.h"
#include "dialogs/token/tac_properties_dialog.h"
#include "dialogs/token/token_properties_dialog.h"
#include "dialogs/viewer_stand_in.h"
#include "frame/module_state.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "platform/module.h"
#include "ui/ui_headless.h"
#include "support/fixture_pki.h"
#include "support/served_pki.h"
#include "dialogs/dialog_test_pki.h"
#include "support/tac_builder.h"
#include "zorbel.h"
#include "support/real_world_data.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using namespace zorbelu::dialogs::tst_ids;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Tsa;
namespace hl = platform::headless;
using dialogtest::Pki;
using dialogtest::MakeStore;
using dialogtest::Store;
using dialogtest::Blob;

std::string TokenWithTac() { return dialogtest::TokenWithTac(Pki()); }

std::map<int, std::string> Fields(const hl::WindowState& w) {
    std::map<int, std::string> fields;
    for (const hl::ControlState& c : w.controls)
        if (c.kind == ZORBELU_CTL_EDIT) fields[c.id] = c.text;
    return fields;
}

// The buttons of the window that are enabled, OK included.
std::set<int> EnabledButtons(const hl::WindowState& w) {
    std::set<int> ids;
    for (const hl::ControlState& c : w.controls)
        if (c.kind == ZORBELU_CTL_BUTTON && c.enabled) ids.insert(c.id);
    return ids;
}

// Every uppercase hex digit as 'X'.
std::string Shape(const std::string& text) {
    std::string shape = text;
    for (char& c : shape)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) c = 'X';
    return shape;
}

class TokenProperties : public testing::Test {
protected:
    void SetUp() override {
        frame::AfxSetResourceHandle(platform::OwnModuleHandle());
        hl::Reset();
        hl::ClearRecordedMessageBoxes();
    }
    void TearDown() override { frame::AfxSetResourceHandle(platform::OwnModuleHandle()); }

    // Runs the export on `script`, then `nested` for a dialog it opens, and
    // gives the token dialog's run (the last to end).
    hl::ModalRun Show(const std::string& token, const ZORBELCertStore* store, std::vector<hl::Action> script,
                      std::vector<hl::Action> nested = {}) {
        hl::QueueScript(std::move(script));
        if (!nested.empty()) hl::QueueScript(std::move(nested));
        const ZORBELUBlob blob = Blob(token);
        const uint32_t result = store != nullptr ? ZORBELUShowTimeStampTokenPropEx2(nullptr, &blob, store)
                                                 : ZORBELUShowTimeStampTokenProp(nullptr, &blob);
        EXPECT_EQ(result, 1u);
        EXPECT_FALSE(hl::Runs().empty());
        return hl::Runs().empty() ? hl::ModalRun{} : hl::Runs().back();
    }
    hl::WindowState Opened(const std::string& token, const ZORBELCertStore* store = nullptr) {
        return Show(token, store, {hl::Press(platform::IDOK)}).atStart;
    }

    dialogtest::ViewerStandIn viewer_;
};

// ---- Fields ---------------------------------------------------------------------

TEST_F(TokenProperties, EveryFieldOfARealToken) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const coretest::Bytes bytes = coretest::ReadFile(coretest::RealWorld("bc-java/tsp/sha1Response.tsr"));
    const hl::WindowState w = Opened(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(w.templateId, kTemplateTokenProperties);
    EXPECT_EQ(w.caption, "Time-Stamp Token Properties");
    const std::map<int, std::string> expected = {
        {kVersion, " 1"},
        {kPolicy, " 1.2.3.4.1"},
        {kSerialNumber, " 04"},
        {kGenTime, " 20041209075205Z"},
        {kOrdering, " TRUE"},
        {kAccuracy, " 1.500100"},  // 1 s 500 ms 100 µs
        {kTsaName, " CN=Eric H. Echidna, emailAddress=eric@bouncycastle.org, O=Bouncy Castle, C=AU"},
        {kHashOid, " 1.3.14.3.2.26"},
        {kHashName, " SHA-1"},
        {kHashValue, " F951B101989B2C3B7471710B4E78FC4DBDFA0CA6"},
        {kHashLength, " 160"},
    };
    EXPECT_EQ(Fields(w), expected);
    // Neither a TAC nor the TSA certificate in the token; the basic variant
    // has no CRL and CA buttons.
    EXPECT_EQ(EnabledButtons(w), (std::set<int>{platform::IDOK}));
    EXPECT_EQ(w.Find(kCrl), nullptr);
    EXPECT_EQ(w.Find(kCa), nullptr);
}

TEST_F(TokenProperties, ImprintsOfEveryDigest) {
    const struct {
        const char* token;
        const char* oid;
        const char* name;
        const char* bits;
        std::string shape;
    } cases[] = {
        {"good-md5", "1.2.840.113549.2.5", "MD5", " 128", " " + std::string(32, 'X')},
        {"good-sha1", "1.3.14.3.2.26", "SHA-1", " 160", " " + std::string(40, 'X')},
        {"good-sha256", "2.16.840.1.101.3.4.2.1", "SHA-256", " 256", " " + std::string(64, 'X')},
        {"good-sha384", "2.16.840.1.101.3.4.2.2", "SHA-384", " 384", " " + std::string(96, 'X')},
        // 64 bytes still fit one line: no break.
        {"good-sha512", "2.16.840.1.101.3.4.2.3", "SHA-512", " 512", " " + std::string(128, 'X')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        hl::Reset();
        auto f = Fields(Opened(Pki().Token(c.token)));
        EXPECT_EQ(f[kHashOid], std::string(" ") + c.oid);
        EXPECT_EQ(f[kHashName], std::string(" ") + c.name);
        EXPECT_EQ(f[kHashLength], c.bits);
        EXPECT_EQ(Shape(f[kHashValue]), c.shape);
        EXPECT_EQ(f[kOrdering], " FALSE");
        EXPECT_EQ(f[kAccuracy], " 1.000000");
        EXPECT_EQ(f[kVersion], " 1");
        EXPECT_EQ(Shape(f[kSerialNumber]).substr(0, 3), " XX");
    }
}

// ---- Buttons a token leaves enabled -------------------------------------------------

TEST_F(TokenProperties, DisabledButtonsFollowWhatTheTokenAndStoreHold) {
    const std::string tac = TokenWithTac();
    const Store full = MakeStore({Ca::Intermediate, Ca::Root}, {Crl::Intermediate, Crl::Root});
    const Store noRoot = MakeStore({Ca::Intermediate}, {Crl::Intermediate});
    const Store noCrl = MakeStore({Ca::Intermediate, Ca::Root}, {});
    const int ok = platform::IDOK;
    const struct {
        const char* name;
        std::string token;
        const ZORBELCertStore* store;  // NULL: basic variant
        std::set<int> enabled;
    } cases[] = {
        {"basic", Pki().Token("good-sha256"), nullptr, {kTsaCertificate, ok}},
        {"basic, with a TAC", tac, nullptr, {kTac, kTsaCertificate, ok}},
        {"basic, no TSA certificate", Pki().Token("good-sha256-nocert"), nullptr, {ok}},
        // Opening asks once, with 10,000 bytes of room.
        {"basic, TSA certificate over 10,000 bytes", Pki().Token("large-cert-sha256"), nullptr, {ok}},
        {"extended, all there", Pki().Token("good-sha256"), full.get(), {kTsaCertificate, kCrl, kCa, ok}},
        {"extended, no TSA certificate", Pki().Token("good-sha256-nocert"), full.get(), {ok}},
        {"extended, root missing", Pki().Token("good-sha256"), noRoot.get(), {kTsaCertificate, kCrl, ok}},
        {"extended, no CRL", Pki().Token("good-sha256"), noCrl.get(), {kTsaCertificate, kCa, ok}},
        {"extended, self-issued", Pki().Token("self-issued-sha256"), full.get(), {kTsaCertificate, ok}},
        {"extended, with a TAC", tac, full.get(), {kTac, kTsaCertificate, kCrl, kCa, ok}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hl::Reset();
        const hl::WindowState w = Opened(c.token, c.store);
        EXPECT_EQ(w.templateId, c.store != nullptr ? kTemplateTokenPropertiesExtended : kTemplateTokenProperties);
        EXPECT_EQ(EnabledButtons(w), c.enabled);
    }
    EXPECT_TRUE(hl::RecordedMessageBoxes().empty());
}

// ---- What the buttons open ----------------------------------------------------------

TEST_F(TokenProperties, TacButtonOpensTheTacDialog) {
    const hl::ModalRun run =
        Show(TokenWithTac(), nullptr, {hl::Press(kTac), hl::Press(platform::IDOK)}, {hl::Press(platform::IDOK)});
    ASSERT_EQ(hl::Runs().size(), 2u);
    const hl::WindowState& tac = hl::Runs()[0].atStart;
    EXPECT_EQ(tac.templateId, kTemplateTacProperties);
    EXPECT_EQ(tac.Find(tac_ids::kPolicyId)->text, " 1.2.3.4.5.6");
    EXPECT_EQ(tac.Find(tac_ids::kHolder)->text, " C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test tsa-good");
    EXPECT_TRUE(run.refusedActions.empty());
    EXPECT_TRUE(hl::RecordedMessageBoxes().empty());
}

TEST_F(TokenProperties, ATacDialogThatCannotBeShownIsReported) {
    const auto refuse = hl::Look([](const hl::WindowState&) { hl::RefuseNextWindows(1); });
    Show(TokenWithTac(), nullptr, {refuse, hl::Press(kTac), hl::Press(platform::IDOK)});
    ASSERT_EQ(hl::RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(hl::RecordedMessageBoxes()[0].text,
              "An error occurred when trying to display Time Attribute Certificate.(Error code: 1004)");
    EXPECT_EQ(hl::RecordedMessageBoxes()[0].type, platform::MB_ICONSTOP);
}

TEST_F(TokenProperties, TsaButtonWritesTheCertificateAnewAtEveryPress) {
    const std::string file = ViewerTemporaryFile(ViewKind::Certificate);
    std::vector<std::vector<std::string>> seen;
    const auto look = hl::Look([&](const hl::WindowState&) {
        seen.push_back(viewer_.Arguments());
        std::filesystem::remove(file);
        viewer_.Forget();
    });
    Show(Pki().Token("good-sha256"), nullptr,
         {hl::Press(kTsaCertificate), look, hl::Press(kTsaCertificate), hl::Press(platform::IDOK)});
    const std::vector<std::string> arguments = {"--as-cert", file};
    EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{arguments}));
    EXPECT_EQ(viewer_.Arguments(), arguments);
    EXPECT_TRUE(test::ReadFileBytes(file) == Pki().CertDer(Tsa::Good));
    EXPECT_TRUE(hl::RecordedMessageBoxes().empty());
}

TEST_F(TokenProperties, TheViewerIsToldWhereTheDialogStands) {
    // The viewer centres its window over the rectangle it is given.
    const std::filesystem::path folder = viewer_.record().parent_path();
    const std::filesystem::path script = folder / "center.sh", told = folder / "center.txt";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$ZORBELU_VIEWER_CENTER\" > '" << told.string() << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const dialogtest::SavedVariable saved("ZORBELU_CERT_VIEWER");
    setenv("ZORBELU_CERT_VIEWER", script.c_str(), 1);
    const hl::ModalRun run =
        Show(Pki().Token("good-sha256"), nullptr, {hl::Press(kTsaCertificate), hl::Press(platform::IDOK)});
    EXPECT_GT(run.atStart.width, 0);
    EXPECT_EQ(test::ReadFileBytes(told), std::to_string(hl::kHeadlessWindowLeft) + "," +
                                             std::to_string(hl::kHeadlessWindowTop) + "," +
                                             std::to_string(run.atStart.width) + "," +
                                             std::to_string(run.atStart.height));
}

TEST_F(TokenProperties, CaButtonOffersTheChainLastFirst) {
    const Store full = MakeStore({Ca::Intermediate, Ca::Root}, {Crl::Intermediate, Crl::Root});
    Show(Pki().Token("good-sha256"), full.get(), {hl::Press(kCa), hl::Press(platform::IDOK)},
         {hl::Pick(selection_ids::kList, 1), hl::Press(platform::IDOK)});
    ASSERT_EQ(hl::Runs().size(), 2u);
    EXPECT_EQ(hl::Runs()[0].atStart.Find(selection_ids::kList)->items,
              (std::vector<std::string>{"Zorbelu Test Root CA", "Zorbelu Test Intermediate CA"}));
    // Position 1 of two is the first element: the intermediate.
    EXPECT_TRUE(test::ReadFileBytes(ViewerTemporaryFile(ViewKind::Certificate)) == Pki().CertDer(Ca::Intermediate));
}

// ---- Error boxes ------------------------------------------------------------------

TEST_F(TokenProperties, FailedButtonsShowTheirMessagesAndCodes) {
    setenv("ZORBELU_CERT_VIEWER", "/nonexistent/viewer", 1);
    setenv("ZORBELU_CRL_VIEWER", "/nonexistent/viewer", 1);
    // Issued by the root: a chain of one and a CRL array of one, so both
    // buttons go to the viewer directly.
    const Store store = MakeStore({Ca::Root}, {Crl::Root});
    Show(Pki().Token("under-root-sha256"), store.get(),
         {hl::Press(kTsaCertificate), hl::Press(kCa), hl::Press(kCrl), hl::Press(platform::IDOK)});
    const auto& boxes = hl::RecordedMessageBoxes();
    const std::vector<std::string> expected = {
        "An error occurred when trying to display TSA certificate.(Error code: 0)",
        "An error occurred when trying to display root certificate.(Error code: 0)",
        "An error occurred when trying to display certificate revocation list.(Error code: 0)",
    };
    ASSERT_EQ(boxes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(boxes[i].text, expected[i]);
        EXPECT_EQ(boxes[i].type, 0x10u);
        EXPECT_NE(boxes[i].owner, nullptr);  // the token dialog
    }
}

// ---- Exports ----------------------------------------------------------------------

TEST_F(TokenProperties, ExportsCheckTokenThenStore) {
    const std::string good = Pki().Token("good-sha256");
    const std::string junk = "\x30\x03\x02\x01\x01";
    const Store store = MakeStore({Ca::Root}, {});
    const ZORBELUBlob goodBlob = Blob(good), junkBlob = Blob(junk);
    const ZORBELUBlob noData{nullptr, 10}, empty{goodBlob.data, 0};
    const struct {
        const char* name;
        const ZORBELUBlob* token;
        uint32_t basic;
        uint32_t extendedWithoutStore;
        uint32_t extendedWithStore;
    } cases[] = {
        {"no token", nullptr, 1001, 1001, 1001},
        {"no data", &noData, 1001, 1001, 1001},
        {"length 0", &empty, 1001, 1001, 1001},
        {"unreadable", &junkBlob, 2001, 2001, 2001},
        {"good token", &goodBlob, 1, 1001, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hl::Reset();
        EXPECT_EQ(ZORBELUShowTimeStampTokenProp(nullptr, c.token), c.basic);
        EXPECT_EQ(ZORBELUShowTimeStampTokenPropEx2(nullptr, c.token, nullptr), c.extendedWithoutStore);
        EXPECT_EQ(ZORBELUShowTimeStampTokenPropEx2(nullptr, c.token, store.get()), c.extendedWithStore);
        // Only a shown dialog makes a run (each closed by the backend here).
        EXPECT_EQ(hl::Runs().size(), c.basic == 1 ? 2u : 0u);
    }
    // A handle that is no window of ours gives no owner.
    hl::Reset();
    EXPECT_EQ(ZORBELUShowTimeStampTokenProp(reinterpret_cast<ZORBELU_HWND>(0x1234), &goodBlob), 1u);
    ASSERT_EQ(hl::Runs().size(), 1u);
    EXPECT_EQ(hl::Runs()[0].atStart.owner, nullptr);
    EXPECT_TRUE(hl::RecordedMessageBoxes().empty());
}

// ---- Templates ----------------------------------------------------------------------

const ZorbeluDialogTemplate* TemplateOf(platform::HINSTANCE module, uint32_t id) {
    const ZorbeluBinaryResource* resource = platform::FindResource(module, "DIALOG", id);
    return resource != nullptr ? static_cast<const ZorbeluDialogTemplate*>(resource->data) : nullptr;
}

// Every dialog template has the same controls in every language, each inside
// the dialog, every id once, every edit read-only.
TEST(TokenTemplates, SameControlsInEveryLanguage) {
    platform::HINSTANCE german = platform::LoadLibraryA(GERMAN_LANGUAGE_MODULE);
    ASSERT_NE(german, nullptr);
    for (const uint32_t id : {129, 130, 6018, 6047, 1058, 6019, 1019, 1020, 1021, 6030, 6031, 6032}) {
        SCOPED_TRACE(id);
        std::vector<std::pair<uint32_t, int>> english;
        for (platform::HINSTANCE module : {platform::OwnModuleHandle(), german}) {
            const ZorbeluDialogTemplate* t = TemplateOf(module, id);
            ASSERT_NE(t, nullptr);
            ASSERT_EQ(t->version, ZORBELU_DIALOG_TEMPLATE_VERSION);
            std::vector<std::pair<uint32_t, int>> controls;
            std::set<int> ids;
            for (uint32_t i = 0; i < t->controlCount; ++i) {
                const ZorbeluDialogControl& c = t->controls[i];
                controls.emplace_back(c.kind, c.id);
                EXPECT_TRUE(c.rect.x >= 0 && c.rect.y >= 0 && c.rect.x + c.rect.width <= t->rect.width &&
                            c.rect.y + c.rect.height <= t->rect.height)
                    << "control " << i << " lies outside the dialog";
                EXPECT_TRUE(c.id == ZORBELU_ID_NONE || ids.insert(c.id).second) << "id " << c.id << " twice";
                EXPECT_TRUE(c.kind != ZORBELU_CTL_EDIT || (c.style & ZORBELU_CS_READONLY) != 0) << c.id;
            }
            if (module == platform::OwnModuleHandle()) {
                english = controls;
            } else {
                EXPECT_EQ(controls, english);
            }
        }
    }
    platform::FreeLibrary(german);
}

}  // namespace
