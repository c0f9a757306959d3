// The dialog runtime on the headless backend, and its failure without one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "dialogs/test_dialog_ids.h"
#include "frame/module_state.h"
#include "ui/dialog.h"
#include "ui/dialog_file.h"
#include "platform/module.h"
#include "ui/ui_backend.h"
#include "ui/ui_headless.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogtest;
using platform::Notify;
namespace hl = platform::headless;

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

// Without a usable backend every dialog fails at once with 1004. The
// backend is chosen once per process, so each case runs in a fresh one.
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

}  // namespace
