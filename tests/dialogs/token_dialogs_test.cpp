// The dialog runtime (and its failure without a backend), the certificate viewer, and the token and TAC properties
// dialogs on the headless backend.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>

#include "dialogs/dialog_test_util.h"
#include "dialogs/signature/token_comparison.h"
#include "dialogs/test_dialog_ids.h"
#include "dialogs/token/certificate_viewing.h"
#include "dialogs/token/display_format.h"
#include "dialogs/token/tac_properties_dialog.h"
#include "dialogs/token/token_properties_dialog.h"
#include "platform/module.h"
#include "platform/process.h"
#include "support/real_world_data.h"
#include "ui/dialog.h"
#include "ui/dialog_file.h"
#include "ui/message_box.h"
#include "ui/ui_backend.h"
#include "ui/ui_headless.h"
#include "zorbel.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using namespace zorbelu::dialogtest;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Tsa;

using platform::Notify;

class Sample : public platform::Dialog {
public:
    Sample() : Dialog(900, nullptr) {
        On(kThrow, Notify::Clicked, [] { throw std::runtime_error("handler failed"); });
        On(kSave, Notify::Clicked, [this] {
            platform::FileDialog save(false, "tst", "token", "Tokens (*.tst)|*.tst|All Files (*.*)|*.*||",
                                      GetSafeHwnd());
            saveResult = save.DoModal();
            savedPath = save.GetPathName();
        });
    }

    std::string name = "initial", savedPath;
    bool flag = true, throwInInit = false;
    int saveResult = 0;

protected:
    bool OnInitDialog() override {
        if (throwInInit) throw std::runtime_error("init failed");
        return Dialog::OnInitDialog();
    }
    void DoDataExchange(platform::DataExchange& dx) override {
        dx.Text(kName, name);
        dx.Check(kFlag, flag);
    }
};

// Every test runs with the test module as the current resource module.
class DialogRuntime : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_STREQ(platform::UiBackendName(), "headless");
        module_ = platform::LoadLibraryA(TEST_DIALOG_MODULE);
        ASSERT_NE(module_, nullptr);
        frame::AfxSetResourceHandle(module_);
        hl::Reset();
    }
    void TearDown() override {
        frame::AfxSetResourceHandle(platform::OwnModuleHandle());
        platform::FreeLibrary(module_);
    }
    const hl::ModalRun& LastRun() const { return hl::Runs().back(); }

    platform::HINSTANCE module_ = nullptr;
};

// The module's own 129 wins over the library's; one of another version counts as missing.
TEST_F(DialogRuntime, TemplatesComeFromTheCurrentModuleThenTheLibrary) {
    EXPECT_STREQ(platform::FindDialogTemplate(129)->caption, "Test 129");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    EXPECT_STRNE(platform::FindDialogTemplate(129)->caption, "Test 129");
    frame::AfxSetResourceHandle(module_);
    platform::Dialog missing(901);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_TRUE(missing.LastError() == 1004u && hl::Runs().empty());
}

TEST_F(DialogRuntime, OkSavesTheControlsCancelDoesNot) {
    const struct {
        int button, result;
        std::string name;
        bool flag;
    } cases[] = {{1, platform::IDOK, "typed", false}, {2, platform::IDCANCEL, "initial", true}};
    for (const auto& c : cases) {
        Sample dialog;
        hl::QueueScript({hl::Type(kName, "typed"), hl::Toggle(kFlag, false), hl::Press(c.button)});
        EXPECT_EQ(dialog.DoModal(), c.result);
        EXPECT_TRUE(dialog.name == c.name && dialog.flag == c.flag && !LastRun().closedByBackend) << c.button;
        // Members went into the controls before the loop started.
        EXPECT_TRUE(LastRun().atStart.Find(kName)->text == "initial" && LastRun().atStart.Find(kFlag)->checked);
        // The template's styles hide and disable.
        EXPECT_FALSE(LastRun().atStart.Find(kHidden)->visible || LastRun().atStart.Find(kDisabled)->enabled);
    }
}

TEST_F(DialogRuntime, ExceptionsEndTheDialogAndLeaveDoModal) {
    for (bool inInit : {false, true}) {
        Sample dialog;
        dialog.throwInInit = inInit;
        hl::QueueScript({hl::Press(kThrow), hl::Press(1)});
        EXPECT_THROW(dialog.DoModal(), std::runtime_error) << inInit;
        EXPECT_FALSE(platform::GetActiveWindow() || dialog.GetSafeHwnd());
    }
}

TEST_F(DialogRuntime, FileDialogs) {
    const struct {
        std::optional<std::string> answer;
        int result;
        std::string path;
    } cases[] = {
        {std::string("/tmp/out"), platform::IDOK, "/tmp/out.tst"},        // the default extension is added
        {std::string("/tmp/out.der"), platform::IDOK, "/tmp/out.der"},    // an own extension is kept
        {std::string("/tmp/a.b/out"), platform::IDOK, "/tmp/a.b/out.tst"}, // a dot in a folder is none
        {std::nullopt, platform::IDCANCEL, ""},
    };
    for (const auto& c : cases) {
        Sample dialog;
        hl::QueueFileAnswer(c.answer);
        hl::QueueScript({hl::Press(kSave), hl::Press(1)});
        dialog.DoModal();
        EXPECT_EQ(std::to_string(dialog.saveResult) + dialog.savedPath, std::to_string(c.result) + c.path);
    }
}

#ifdef GTK_UI_MODULE
constexpr const char kGtkModule[] = GTK_UI_MODULE;
#else
constexpr const char kGtkModule[] = "";
#endif

// Without a usable backend every dialog fails at once with 1004; each case in a fresh process.
TEST(DialogWithoutBackend, FailsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::pair<const char*, const char*> cases[] = {  // ZORBELU_UI and DISPLAY, NULL: unset
        {nullptr, nullptr}, {"gtk", nullptr}, {"no-such-backend", ":0"}, {"gtk", ":987"}};
    for (const auto& [ui, display] : cases) {
        EXPECT_EXIT(
            {
                ui != nullptr ? setenv("ZORBELU_UI", ui, 1) : unsetenv("ZORBELU_UI");
                unsetenv("WAYLAND_DISPLAY");
                if (kGtkModule[0] != '\0') setenv("ZORBELU_UI_MODULE", kGtkModule, 1);  // GTK fails on :987
                display != nullptr ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
                const auto start = std::chrono::steady_clock::now();
                platform::Dialog dialog(129);
                const int result = dialog.DoModal();
                const bool quick = std::chrono::steady_clock::now() - start < std::chrono::seconds(10);
                const bool boxFails = platform::MessageBoxA(nullptr, "x", "y", 0) == 0;
                std::exit(result == -1 && dialog.LastError() == 1004 && quick && boxFails ? 0 : 1);
            },
            testing::ExitedWithCode(0), "")
            << (ui != nullptr ? ui : "(unset)") << " " << (display != nullptr ? display : "(none)");
    }
}

// ---- The viewer -----------------------------------------------------------------

TEST(Viewer, WritesTheFixedFileAndPassesItsNameUnquoted) {
    const ViewerStandIn viewer;
    const struct {
        ViewKind kind;
        const char *option, *extension;
        std::string first, second;
    } cases[] = {
        {ViewKind::Certificate, "--as-cert", ".cer", Pki().CertDer(Tsa::Good),
         Pki().CertDer(Ca::Root)},
        {ViewKind::Crl, "--as-crl", ".crl", Pki().CrlBytes(Crl::IntermediateLarge),
         Pki().CrlBytes(Crl::Root)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string file = (viewer.tmp() / ("zorbelutil-" + std::to_string(geteuid()) + c.extension)).string();
        EXPECT_EQ(ViewerTemporaryFile(c.kind), file);
        // Twice, the second time shorter: the same file, overwritten.
        for (const std::string* bytes : {&c.first, &c.second}) {
            const ZORBELUCertBlob blob = CertBlobOf(*bytes);
            ASSERT_EQ(LaunchCertViewer(blob.data, blob.length, c.kind, nullptr), 1u);
            EXPECT_EQ(viewer.Arguments(), (std::vector<std::string>{c.option, file}));
            EXPECT_EQ(test::ReadFileBytes(file), *bytes);
        }
        EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::others_read,
                  std::filesystem::perms::none);
    }
}

TEST(Viewer, FailsWithoutStartingAnything) {
    const ViewerStandIn viewer;
    const ZORBELUCertBlob blob = CertBlobOf(Pki().CertDer(Tsa::Good));
    const std::string file = ViewerTemporaryFile(ViewKind::Certificate);
    const std::filesystem::path elsewhere = viewer.tmp() / "elsewhere";
    const struct {
        const char* name;
        uint32_t length;
        const char* viewerCommand;  // NULL: the stand-in
        const char* tmpdir;         // NULL: the stand-in's folder
        bool fileIsALink;
    } cases[] = {
        {"nothing to write", 0, nullptr, nullptr, false},
        {"temporary folder missing", blob.length, nullptr, "/nonexistent-zorbelu-folder", false},
        {"the file is a link", blob.length, nullptr, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScopedEnv savedViewer("ZORBELU_CERT_VIEWER"), savedTmp("TMPDIR");
        if (c.viewerCommand != nullptr) setenv("ZORBELU_CERT_VIEWER", c.viewerCommand, 1);
        if (c.tmpdir != nullptr) setenv("TMPDIR", c.tmpdir, 1);
        std::filesystem::remove(file);
        if (c.fileIsALink) std::filesystem::create_symlink(elsewhere, file);
        viewer.Forget();
        EXPECT_EQ(LaunchCertViewer(blob.data, c.length, ViewKind::Certificate, nullptr), 0u);
        EXPECT_TRUE(viewer.Arguments().empty());
        EXPECT_FALSE(std::filesystem::exists(elsewhere));
        std::filesystem::remove(file);
    }
}

// ---- The TAC dialog ---------------------------------------------------------------

struct TacRecords {
    ZORBELTACCertInfo info{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
};

// The TAC dialog's fields as it opened on `r`.
std::map<int, std::string> TacFields(const TacRecords& r) {
    hl::Reset();
    hl::QueueScript({hl::Press(platform::IDOK)});
    EXPECT_EQ(ShowTACDialog(r.info, r.metrics, r.policy), 1u);
    if (hl::Runs().size() != 1 || hl::Runs()[0].closedByBackend) return {};
    EXPECT_EQ(hl::Runs()[0].atStart.templateId, kTemplateTacProperties);
    return Fields(hl::Runs()[0].atStart);
}

// The TAC dialog keeps within each record's bounds however it is filled, and formats each field from its record.
TEST_F(HeadlessTest, TacFieldsAreFormattedWithinTheirRecords) {
    using namespace tac_ids;
    TacRecords r;
    std::memset(r.info.holder, 'H', sizeof r.info.holder);  // no NUL at all
    std::memset(r.metrics.auditedTime, '7', sizeof r.metrics.auditedTime);
    std::memset(r.info.holderHashValue, 0xAB, sizeof r.info.holderHashValue);
    r.info.holderHashLength = 1000;
    std::memset(r.info.signatureValue, 0x01, sizeof r.info.signatureValue);
    r.info.signatureLength = 5000;
    std::strcpy(r.info.signatureAlgorithmOid, "1.3.14.3.2.26 ");  // compared whole
    r.info.serialNumber[0] = 1;
    r.metrics.offset = -0.026809f;
    r.metrics.delay = 0.5f;
    r.policy.offset = 1.0f;
    r.policy.delay = 0.25f;
    auto f = TacFields(r);
    EXPECT_EQ(f[kHolder] + f[kAuditedTime], " " + std::string(512, 'H') + " " + std::string(32, '7'));
    EXPECT_EQ(Shape(f[kHolderHashValue]), " " + std::string(80, 'X'));  // 40 bytes, not 1000
    EXPECT_EQ(f[kHolderHashLength], " 8000");                            // the record's own count
    EXPECT_EQ(f[kSignatureValue].size(), 2048u + 16 * 2);                // 1024 bytes in 16 lines
    EXPECT_EQ(f[kSignatureLength], " 40000");
    EXPECT_EQ(f[kSignatureName] + f[kHolderHashName], " Unknown object identifier Unknown object identifier");
    EXPECT_EQ(f[kSerialNumber], " 0100000000");
    EXPECT_EQ((std::vector<std::string>{f[kMetricsOffset], f[kMetricsDelay], f[kPolicyOffset], f[kPolicyDelay]}),
              (std::vector<std::string>{" -0.026809", " 0.500000", " 1.000000", " 0.250000"}));

    // 64 bytes fit one line, 65 break once; a known digest is named.
    r = TacRecords{};
    r.info.signatureLength = 64;
    r.info.holderHashLength = 20;
    std::strcpy(r.info.holderHashAlgorithmOid, "2.16.840.1.101.3.4.2.1");
    f = TacFields(r);
    EXPECT_EQ(f[kSignatureValue], std::string(128, '0'));
    EXPECT_EQ(f[kHolderHashValue] + f[kHolderHashLength] + f[kHolderHashName],
              " " + std::string(40, '0') + " 160 SHA-256");
    r.info.signatureLength = 65;
    EXPECT_EQ(TacFields(r)[kSignatureValue], std::string(128, '0') + "\r\n00");
}

// ---- The token dialog ---------------------------------------------------------------

using namespace zorbelu::dialogs::tst_ids;

class TokenProperties : public HeadlessTest {
protected:
    // Runs the export on `script` (`nested` for a dialog it opens); the token dialog's run.
    hl::ModalRun Show(const std::string& token, const ZORBELCertStore* store, std::vector<hl::Action> script,
                      std::vector<hl::Action> nested = {}) {
        hl::QueueScript(std::move(script));
        if (!nested.empty()) hl::QueueScript(std::move(nested));
        const ZORBELUBlob blob = Blob(token);
        EXPECT_EQ(store != nullptr ? ZORBELUShowTimeStampTokenPropEx2(nullptr, &blob, store)
                                   : ZORBELUShowTimeStampTokenProp(nullptr, &blob),
                  1u);
        EXPECT_FALSE(hl::Runs().empty());
        return hl::Runs().empty() ? hl::ModalRun{} : hl::Runs().back();
    }
    hl::WindowState Opened(const std::string& token, const ZORBELCertStore* store = nullptr) {
        return Show(token, store, {hl::Press(platform::IDOK)}).atStart;
    }
    static std::set<int> EnabledButtons(const hl::WindowState& w) {
        std::set<int> ids;
        for (const hl::ControlState& c : w.controls)
            if (c.kind == ZORBELU_CTL_BUTTON && c.enabled) ids.insert(c.id);
        return ids;
    }

    ViewerStandIn viewer_;
};

TEST_F(TokenProperties, EveryFieldOfARealToken) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const coretest::Bytes bytes = coretest::ReadFile(coretest::RealWorld("bc-java/tsp/sha1Response.tsr"));
    auto f = Fields(Opened(std::string(bytes.begin(), bytes.end())));
    EXPECT_EQ(f[kPolicy] + f[kSerialNumber] + f[kGenTime] + f[kOrdering] + f[kAccuracy],
              " 1.2.3.4.1 04 20041209075205Z TRUE 1.500100");  // 1 s 500 ms 100 µs
    EXPECT_EQ(f[kTsaName], " CN=Eric H. Echidna, emailAddress=eric@bouncycastle.org, O=Bouncy Castle, C=AU");
    EXPECT_EQ(f[kHashValue], " F951B101989B2C3B7471710B4E78FC4DBDFA0CA6");
}

TEST_F(TokenProperties, DisabledButtonsFollowWhatTheTokenAndStoreHold) {
    const std::string tac = TokenWithTac(), good = Pki().Token("good-sha256");
    const std::string noCert = Pki().Token("good-sha256-nocert");
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
        {"basic", good, nullptr, {kTsaCertificate, ok}},
        {"basic, with a TAC", tac, nullptr, {kTac, kTsaCertificate, ok}},
        {"basic, no TSA certificate", noCert, nullptr, {ok}},
        // Opening asks once, with 10,000 bytes of room.
        {"basic, TSA certificate over 10,000 bytes", Pki().Token("large-cert-sha256"), nullptr, {ok}},
        {"extended, all there", good, full.get(), {kTsaCertificate, kCrl, kCa, ok}},
        {"extended, no TSA certificate", noCert, full.get(), {ok}},
        {"extended, root missing", good, noRoot.get(), {kTsaCertificate, kCrl, ok}},
        {"extended, no CRL", good, noCrl.get(), {kTsaCertificate, kCa, ok}},
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

TEST_F(TokenProperties, TacButtonOpensTheTacDialog) {
    const hl::ModalRun run =
        Show(TokenWithTac(), nullptr, {hl::Press(kTac), hl::Press(platform::IDOK)}, {hl::Press(platform::IDOK)});
    ASSERT_EQ(hl::Runs().size(), 2u);
    const hl::WindowState& tac = hl::Runs()[0].atStart;
    EXPECT_EQ(tac.templateId, kTemplateTacProperties);
    EXPECT_EQ(tac.Find(tac_ids::kPolicyId)->text + tac.Find(tac_ids::kHolder)->text,
              " 1.2.3.4.5.6 C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test tsa-good");
    EXPECT_TRUE(run.refusedActions.empty() && hl::RecordedMessageBoxes().empty());
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
    EXPECT_TRUE(test::ReadFileBytes(file) == Pki().CertDer(Tsa::Good) && hl::RecordedMessageBoxes().empty());
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

TEST_F(TokenProperties, ExportsCheckTokenThenStore) {
    const std::string good = Pki().Token("good-sha256"), junk = "\x30\x03\x02\x01\x01";
    const Store store = MakeStore({Ca::Root}, {});
    const ZORBELUBlob goodBlob = Blob(good), junkBlob = Blob(junk), noData{nullptr, 10}, empty{goodBlob.data, 0};
    const struct {
        const ZORBELUBlob* token;
        uint32_t basic, extendedWithoutStore, extendedWithStore;
    } cases[] = {{nullptr, 1001, 1001, 1001}, {&noData, 1001, 1001, 1001}, {&empty, 1001, 1001, 1001},
                 {&junkBlob, 2001, 2001, 2001}, {&goodBlob, 1, 1001, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.basic * 10000 + c.extendedWithoutStore);
        hl::Reset();
        EXPECT_EQ(ZORBELUShowTimeStampTokenProp(nullptr, c.token), c.basic);
        EXPECT_EQ(ZORBELUShowTimeStampTokenPropEx2(nullptr, c.token, nullptr), c.extendedWithoutStore);
        EXPECT_EQ(ZORBELUShowTimeStampTokenPropEx2(nullptr, c.token, store.get()), c.extendedWithStore);
        EXPECT_EQ(hl::Runs().size(), c.basic == 1 ? 2u : 0u);  // only a shown dialog makes a run
    }
    // A handle that is no window of ours gives no owner.
    hl::Reset();
    EXPECT_EQ(ZORBELUShowTimeStampTokenProp(reinterpret_cast<ZORBELU_HWND>(0x1234), &goodBlob), 1u);
    ASSERT_EQ(hl::Runs().size(), 1u);
    EXPECT_TRUE(hl::Runs()[0].atStart.owner == nullptr && hl::RecordedMessageBoxes().empty());
}

}  // namespace
