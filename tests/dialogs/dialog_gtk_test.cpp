// Templates 129 (with a real TAC), 130 and 6018 (with a real token), 6047
// and the signature properties dialogs with their pages and result dialogs,
// rendered by the GTK backend, in English and German: every control's
// natural size must fit its rectangle, and a screenshot of each template and
// language is written for people to look at.
//
// Needs a display: ctest runs it under `xvfb-run -a`; without any display
// it skips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/test_util.h"
#include "core/test_util.h"
#include "dialogs/signature/token_comparison.h"
#include "dialogs/signature/verified_properties_tabbed.h"
#include "dialogs/dialog_test_pki.h"
#include "dialogs/token/certificate_viewing.h"
#include "dialogs/token/tac_properties_dialog.h"
#include "frame/module_state.h"
#include "ui/dialog.h"
#include "platform/module.h"
#include "ui/ui_backend.h"
#include "support/real_world_data.h"
#include "support/served_pki.h"

namespace {

using namespace zorbelu;

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

// What a control needs that its rectangle does not give, or "".
std::string Overflow(const platform::Dialog& dialog, size_t index, const platform::ControlView& c) {
    bool checkWidth = false, checkHeight = false;
    switch (c.kind) {
        case ZORBELU_CTL_STATIC:
        case ZORBELU_CTL_BUTTON:
        case ZORBELU_CTL_CHECKBOX:
        case ZORBELU_CTL_GROUPBOX:
        case ZORBELU_CTL_PICTURE:
            checkWidth = checkHeight = true;
            break;
        case ZORBELU_CTL_EDIT:  // the text scrolls; the field's line must fit
            checkHeight = (c.style & ZORBELU_CS_MULTILINE) == 0;
            break;
        case ZORBELU_CTL_COMBOBOX:
            checkHeight = true;
            break;
        default:
            break;
    }
    if (!c.visible || (!checkWidth && !checkHeight)) return "";
    int width = 0, height = 0;
    if (!dialog.NaturalSize(index, &width, &height)) return "no natural size";
    // A group box's label only has to fit across; its frame is drawn to any height.
    if (c.kind == ZORBELU_CTL_GROUPBOX) checkHeight = false;
    std::ostringstream out;
    if ((checkWidth && width > c.rect.width) || (checkHeight && height > c.rect.height))
        out << "control " << index << " (id " << c.id << ", \"" << c.text << "\") needs " << width << "x" << height
            << " px, has " << c.rect.width << "x" << c.rect.height;
    return out.str();
}

// The controls of a dialog and of its pages that do not fit.
void CollectOverflows(const platform::Dialog& dialog, std::vector<std::string>& overflows) {
    const std::vector<platform::ControlView> controls = dialog.Controls();
    for (size_t i = 0; i < controls.size(); ++i)
        if (std::string problem = Overflow(dialog, i, controls[i]); !problem.empty())
            overflows.push_back("template " + std::to_string(dialog.TemplateId()) + ": " + problem);
    for (const platform::Dialog* page : dialog.Pages())
        if (page->IsWindowVisible()) CollectOverflows(*page, overflows);
}

// Shows each dialog in English and German, checks that its controls fit and
// writes <name>_<language>.png. `prepare` may change the dialog before it is
// looked at (pick a tab).
void RenderInEveryLanguage(const std::string& name, const std::function<void()>& show,
                           const std::function<void(platform::Dialog&)>& prepare = {}) {
    const char* dirEnv = std::getenv("ZORBELU_SCREENSHOT_DIR");
    const std::string dir = dirEnv != nullptr && *dirEnv != '\0' ? dirEnv : ".";
    std::system(("mkdir -p '" + dir + "'").c_str());
    platform::HINSTANCE german = platform::LoadLibraryA(GERMAN_LANGUAGE_MODULE);
    ASSERT_NE(german, nullptr);
    struct Language {
        const char* name;
        platform::HINSTANCE module;
    };
    for (const Language& language : {Language{"enu", platform::OwnModuleHandle()}, Language{"deu", german}}) {
        frame::AfxSetResourceHandle(language.module);
        std::vector<std::string> overflows;
        bool looked = false, shot = false;
        const std::string png = dir + "/" + name + "_" + language.name + ".png";
        platform::SetModalStartObserver([&](platform::Dialog& dialog) {
            looked = true;
            if (prepare) prepare(dialog);
            CollectOverflows(dialog, overflows);
            shot = dialog.Snapshot(png);
            dialog.EndDialog(platform::IDOK);
        });
        show();
        platform::SetModalStartObserver(nullptr);
        EXPECT_TRUE(looked) << name << " " << language.name;
        EXPECT_TRUE(shot) << png;
        for (const std::string& problem : overflows) ADD_FAILURE() << name << " " << language.name << ": " << problem;
    }
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(german);
}

TEST(DialogGtk, Template129FitsItsTextsInEveryLanguage) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    if (!HasDisplay()) GTEST_SKIP() << "no display: run under xvfb-run -a";
    ASSERT_EQ(platform::UiStatus(), 1u) << "the GTK backend did not start (ZORBELU_UI=gtk, ZORBELU_UI_MODULE)";
    ASSERT_STREQ(platform::UiBackendName(), "gtk");

    // The real token's TAC, so that the fields hold real values.
    const coretest::Bytes token = coretest::ReadFile(coretest::RealWorld("bc-java/tsp/generalizedTime.tsr"));
    std::vector<uint8_t> buffer(4000);
    ZORBELUCertBlob tac{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    const ZORBELUBlob blob = coretest::Blob(token);
    ASSERT_EQ(ZORBELGetTAC(&blob, &tac), 1u);
    const ZORBELUBlob tacBlob{tac.data, tac.length};
    ZORBELTACCertInfo info{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
    ASSERT_EQ(ZORBELGetTACCertInfo(&tacBlob, &info), 1u);
    ASSERT_EQ(ZORBELGetTACTimingMetrics(&tacBlob, &metrics), 1u);
    ASSERT_EQ(ZORBELGetTACTimingPolicy(&tacBlob, &policy), 1u);
    RenderInEveryLanguage("tac_properties", [&] { EXPECT_EQ(dialogs::ShowTACDialog(info, metrics, policy), 1u); });
}

TEST(DialogGtk, TokenPropertiesAndSelectionFitTheirTextsInEveryLanguage) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    if (!HasDisplay()) GTEST_SKIP() << "no display: run under xvfb-run -a";
    ASSERT_EQ(platform::UiStatus(), 1u) << "the GTK backend did not start (ZORBELU_UI=gtk, ZORBELU_UI_MODULE)";

    const coretest::Bytes token = coretest::ReadFile(coretest::RealWorld("bc-java/tsp/generalizedTime.tsr"));
    const ZORBELUBlob blob = coretest::Blob(token);
    const dialogtest::Store store = dialogtest::MakeStore({}, {});
    RenderInEveryLanguage("token_properties", [&] { EXPECT_EQ(ZORBELUShowTimeStampTokenProp(nullptr, &blob), 1u); });
    RenderInEveryLanguage("token_properties_extended",
                          [&] { EXPECT_EQ(ZORBELUShowTimeStampTokenPropEx2(nullptr, &blob, store.get()), 1u); });

    ZORBELUCertBlob array[] = {dialogtest::CertBlobOf(dialogtest::Pki().CertDer(fixtures::Ca::Root)),
                               dialogtest::CertBlobOf(dialogtest::Pki().CertDer(fixtures::Tsa::Good)),
                               {nullptr, 0, 0}};
    array[0].encoding = array[1].encoding = 2;
    RenderInEveryLanguage("certificate_selection",
                          [&] { dialogs::ViewGatheredArray(array, dialogs::ViewKind::Certificate, nullptr); });
}

TEST(DialogGtk, SignatureDialogsFitTheirTextsInEveryLanguage) {
    if (!HasDisplay()) GTEST_SKIP() << "no display: run under xvfb-run -a";
    ASSERT_EQ(platform::UiStatus(), 1u) << "the GTK backend did not start (ZORBELU_UI=gtk, ZORBELU_UI_MODULE)";
    test::TempDir dir;
    const fixtures::FixturePki pki = fixtures::FixturePki::Create(dir.path() / "pki");
    const std::string token = dialogtest::TokenWithTac(pki);
    const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token.data()), static_cast<uint32_t>(token.size())};
    const ZORBELUTimeZoneSelector tokyo{ZORBELU_TIME_ZONE_FIXED_OFFSET, 540};
    ZORBELUPRVSetModuleName("Archive Signer", 14, ZORBELU_PRIVATE_CALLER_CODE);
    ZORBELUPRVSetDoDisplayedTempravoLogo(1);

    // Each picture of the plain dialog, and the chained form.
    for (const uint32_t status : {2500u, 2501u, 2508u, 2509u})
        RenderInEveryLanguage("signature_properties_" + std::to_string(status), [&] {
            EXPECT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &blob, status, &tokyo), 1u);
        });
    const ZORBELUTokenRef ref{&blob, nullptr};
    const ZORBELUSignatureEntry chain[] = {{2510, &ref, &tokyo}, {2501, &ref, &tokyo}};
    RenderInEveryLanguage("signature_properties_chained",
                          [&] { EXPECT_EQ(ZORBELUPRVShowSignaturePropEx2(nullptr, chain, 2), 1u); });

    // The tabbed dialog, chained, on each tab; a failed check on the first.
    const ZORBELUSignatureEntryEx tabbed[] = {{2501, 2502, 2506, 2516, &ref, &tokyo}, {2501, 1, 2513, 2515, &ref, &tokyo}};
    const char* tabNames[] = {"results", "details", "compare"};
    for (int tab = 0; tab < 3; ++tab)
        RenderInEveryLanguage(
            std::string("signature_tabbed_") + tabNames[tab],
            [&] { EXPECT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, tabbed, 2), 1u); },
            [tab](platform::Dialog& dialog) {
                if (auto* tabbedDialog = dynamic_cast<dialogs::CDlgVerifiedPropEx*>(&dialog))
                    tabbedDialog->SelectTab(tab);
            });

    // The result dialogs of comparison and export.
    for (const uint32_t result : {dialogs::kTokensMatch, dialogs::kTokensDiffer, dialogs::kTokenFileUnreadable})
        RenderInEveryLanguage("compare_result_" + std::to_string(result), [&] {
            dialogs::CDlgCompareResult shown(result, nullptr);
            EXPECT_EQ(shown.DoModal(), platform::IDOK);
        });
    for (const bool failed : {false, true})
        RenderInEveryLanguage(failed ? "export_result_failed" : "export_result", [&] {
            dialogs::CDlgExportTST shown(failed, nullptr);
            EXPECT_EQ(shown.DoModal(), platform::IDOK);
        });
}

}  // namespace

// ---- The certificate viewer's place ------------------------------------------

#ifdef CERT_VIEWER_PROGRAM
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

std::string WindowTree() {
    std::string out;
    if (FILE* pipe = popen("xwininfo -root -tree 2>/dev/null", "r")) {
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

}  // namespace

TEST(DialogGtk, TheViewerOpensCentredOverItsOwner) {
    if (!HasDisplay()) GTEST_SKIP() << "no display: run under xvfb-run -a";
    if (std::system("command -v xwininfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "xwininfo is not installed";
    const std::string file = "/tmp/zorbelu-viewer-placement-" + std::to_string(getpid()) + ".cer";
    test::TempDir dir;
    std::ofstream(file, std::ios::binary) << fixtures::FixturePki::Create(dir.path() / "pki").CertDer(fixtures::Ca::Root);
    // An owner at 200,150 of 800 x 600: the 680 x 560 viewer goes to 260,170
    // (with no window manager, as under Xvfb, X keeps the place a program asks for).
    const pid_t viewer = fork();
    if (viewer == 0) {
        setenv("ZORBELU_VIEWER_CENTER", "200,150,800,600", 1);
        execl(CERT_VIEWER_PROGRAM, CERT_VIEWER_PROGRAM, "--certificate", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(viewer, 0);
    std::string tree;
    for (int i = 0; i < 50 && tree.find("680x560+260+170") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        tree = WindowTree();
    }
    kill(viewer, SIGTERM);
    waitpid(viewer, nullptr, 0);
    std::remove(file.c_str());
    EXPECT_NE(tree.find("680x560+260+170"), std::string::npos) << tree;
}
#endif
