// GTK renders the dialogs in English and German: texts fit, controls keep size and never overlap (under xvfb-run).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/test_util.h"
#include "dialogs/signature/token_comparison.h"
#include "dialogs/signature/verified_properties_tabbed.h"
#include "dialogs/dialog_test_util.h"
#include "dialogs/token/certificate_viewing.h"
#include "dialogs/token/tac_properties_dialog.h"
#include "frame/module_state.h"
#include "ui/dialog.h"
#include "platform/module.h"
#include "ui/ui_backend.h"
#include "support/served_pki.h"

namespace {

using namespace zorbelu;

bool HasDisplay() {
    const char *x = std::getenv("DISPLAY"), *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The dialog on screen: the mapped modal GTK window that holds a client area.
GtkWidget* ShownClientArea() {
    GtkWidget* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* l = windows; l != nullptr; l = l->next) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(l->data));
        if (gtk_widget_get_mapped(GTK_WIDGET(l->data)) && gtk_window_get_modal(GTK_WINDOW(l->data)) &&
            child != nullptr && std::string(G_OBJECT_TYPE_NAME(child)) == "ZorbeluClientArea")
            found = child;
    }
    g_list_free(windows);
    return found;
}

GtkAllocation AllocationOf(GtkWidget* widget) {
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    return a;
}

std::string Describe(GtkWidget* widget) {
    const char* text = GTK_IS_LABEL(widget)    ? gtk_label_get_text(GTK_LABEL(widget))
                       : GTK_IS_BUTTON(widget) ? gtk_button_get_label(GTK_BUTTON(widget))
                                               : nullptr;
    return std::string(G_OBJECT_TYPE_NAME(widget)) + " \"" + (text ? text : "") + "\"";
}

// A label's text must fit its size, other controls keep theirs, all stay in the area without overlap.
void CollectLayoutProblems(GtkWidget* area, std::vector<std::string>& problems) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(area));
    std::vector<GtkWidget*> placed;
    const GtkAllocation bounds = AllocationOf(area);
    for (GList* l = children; l != nullptr; l = l->next) {
        GtkWidget* child = GTK_WIDGET(l->data);
        if (!gtk_widget_get_mapped(child)) continue;
        if (std::string(G_OBJECT_TYPE_NAME(child)) == "ZorbeluClientArea") {
            CollectLayoutProblems(child, problems);
            continue;
        }
        const GtkAllocation a = AllocationOf(child);
        int width = 0, height = 0, needWidth = 0, needHeight = 0;
        gtk_widget_get_size_request(child, &width, &height);
        if (GTK_IS_LABEL(child))  // a GtkFixed gives a label all its text needs, so the text is held to the request
            pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(child)), &needWidth, &needHeight);
        else
            needWidth = a.width, needHeight = a.height;
        if (needWidth > width || needHeight > height)
            problems.push_back("needs " + std::to_string(needWidth) + "x" + std::to_string(needHeight) + ", has " +
                               std::to_string(width) + "x" + std::to_string(height) + ": " + Describe(child));
        if (a.x + a.width > bounds.x + bounds.width || a.y + a.height > bounds.y + bounds.height)
            problems.push_back("leaves its client area: " + Describe(child));
        if (GTK_IS_FRAME(child) || GTK_IS_SEPARATOR(child) || GTK_IS_NOTEBOOK(child)) continue;
        for (GtkWidget* other : placed) {
            const GtkAllocation b = AllocationOf(other);
            if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height)
                problems.push_back("overlaps " + Describe(other) + ": " + Describe(child));
        }
        placed.push_back(child);
    }
    g_list_free(children);
}

// Shows the dialog in each language, checks its layout and writes <name>_<language>.png.
void RenderInEveryLanguage(const std::string& name, const std::function<void()>& show,
                           const std::function<void(platform::Dialog&)>& prepare = {}) {
    const char* dirEnv = std::getenv("ZORBELU_SCREENSHOT_DIR");
    const std::string dir = dirEnv != nullptr && *dirEnv != '\0' ? dirEnv : ".";
    std::system(("mkdir -p '" + dir + "'").c_str());
    for (const char* language : {"enu", "deu"}) {
        const dialogtest::CurrentTexts texts(language[0] == 'd' ? GERMAN_LANGUAGE_MODULE : nullptr);
        std::vector<std::string> overflows;
        bool looked = false, shot = false;
        const std::string png = dir + "/" + name + "_" + language + ".png";
        platform::SetModalStartObserver([&](platform::Dialog& dialog) {
            looked = true;
            if (prepare) prepare(dialog);
            shot = dialog.Snapshot(png);  // lays the window out first
            if (GtkWidget* area = ShownClientArea())
                CollectLayoutProblems(area, overflows);
            else
                overflows.push_back("no GTK window shown");
            dialog.EndDialog(platform::IDOK);
        });
        show();
        platform::SetModalStartObserver(nullptr);
        EXPECT_TRUE(looked && shot) << png;
        for (const std::string& problem : overflows) ADD_FAILURE() << png << ": " << problem;
    }
}

// A token with a TAC, so that every field holds a value.
TEST(DialogGtk, DialogsFitTheirTextsInEveryLanguage) {
    if (!HasDisplay()) GTEST_SKIP() << "no display: run under xvfb-run -a";
    ASSERT_EQ(platform::UiStatus(), 1u) << "the GTK backend did not start";
    ASSERT_STREQ(platform::UiBackendName(), "gtk");
    const std::string token = dialogtest::TokenWithTac();
    const ZORBELUBlob blob = dialogtest::Blob(token);
    std::vector<uint8_t> buffer(4000);
    ZORBELUCertBlob tac{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    ZORBELTACCertInfo info{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
    ASSERT_EQ(ZORBELGetTAC(&blob, &tac), 1u);
    const ZORBELUBlob t{tac.data, tac.length};
    ASSERT_EQ(ZORBELGetTACCertInfo(&t, &info) + ZORBELGetTACTimingMetrics(&t, &metrics) +
                  ZORBELGetTACTimingPolicy(&t, &policy), 3u);
    RenderInEveryLanguage("tac_properties", [&] { EXPECT_EQ(dialogs::ShowTACDialog(info, metrics, policy), 1u); });
    RenderInEveryLanguage("token_properties", [&] { EXPECT_EQ(ZORBELUShowTimeStampTokenProp(nullptr, &blob), 1u); });
    const dialogtest::Store store = dialogtest::MakeStore({}, {});
    RenderInEveryLanguage("token_properties_extended",
                          [&] { EXPECT_EQ(ZORBELUShowTimeStampTokenPropEx2(nullptr, &blob, store.get()), 1u); });
    ZORBELUCertBlob array[] = {dialogtest::CertBlobOf(dialogtest::Pki().CertDer(fixtures::Ca::Root)),
                               dialogtest::CertBlobOf(dialogtest::Pki().CertDer(fixtures::Tsa::Good)), {}};
    RenderInEveryLanguage("certificate_selection",
                          [&] { dialogs::ViewGatheredArray(array, dialogs::ViewKind::Certificate, nullptr); });

    const ZORBELUTimeZoneSelector tokyo{ZORBELU_TIME_ZONE_FIXED_OFFSET, 540};
    ZORBELUPRVSetModuleName("Archive Signer", 14, ZORBELU_PRIVATE_CALLER_CODE);
    ZORBELUPRVSetDoDisplayedTempravoLogo(1);
    for (const uint32_t status : {2500u, 2508u})
        RenderInEveryLanguage("signature_properties_" + std::to_string(status), [&] {
            EXPECT_EQ(ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &blob, status, &tokyo), 1u);
        });
    const ZORBELUTokenRef ref{&blob, nullptr};
    const ZORBELUSignatureEntryEx tabbed[] = {{2501, 2502, 2506, 2516, &ref, &tokyo},
                                              {2501, 1, 2513, 2515, &ref, &tokyo}};
    for (int tab = 0; tab < 3; ++tab)
        RenderInEveryLanguage(
            "signature_tabbed_" + std::to_string(tab),
            [&] { EXPECT_EQ(ZORBELUPRVShowSignaturePropEx3(nullptr, tabbed, 2), 1u); },
            [tab](platform::Dialog& dialog) {
                if (auto* tabbedDialog = dynamic_cast<dialogs::CDlgVerifiedPropEx*>(&dialog))
                    tabbedDialog->SelectTab(tab);
            });
    RenderInEveryLanguage("compare_result", [&] {
        EXPECT_EQ(dialogs::CDlgCompareResult(dialogs::kTokenFileUnreadable, nullptr).DoModal(), platform::IDOK);
    });
    RenderInEveryLanguage("export_result_failed",
                          [&] { EXPECT_EQ(dialogs::CDlgExportTST(true, nullptr).DoModal(), platform::IDOK); });
}

}  // namespace
