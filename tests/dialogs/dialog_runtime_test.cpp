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
    explicit Sample(platform::HWND parent = nullptr) : Dialog(900, parent) {
        On(kApply, Notify::Clicked, [this] {
            ++applied;
            UpdateData(true);
        });
        On(kCombo, Notify::SelectionChanged,
           [this] { picked = GetItemText(kCombo) + "#" + std::to_string(GetCurSel(kCombo)); });
        On(kEnd42, Notify::Clicked, [this] { EndDialog(42); });
        On(kThrow, Notify::Clicked, [] { throw std::runtime_error("handler failed"); });
        On(kNested, Notify::Clicked, [this] {
            outerDuringNested = GetSafeHwnd();
            Sample inner(GetSafeHwnd());
            innerResult = inner.DoModal();
            activeAfterNested = platform::GetActiveWindow();
        });
        On(kMessage, Notify::Clicked,
           [this] { answer = platform::MessageBoxA(GetSafeHwnd(), "Sure?", "Question", platform::MB_YESNO); });
        On(kSave, Notify::Clicked, [this] {
            platform::FileDialog save(false, "tst", "token", "Tokens (*.tst)|*.tst|All Files (*.*)|*.*||",
                                      GetSafeHwnd());
            saveResult = save.DoModal();
            savedPath = save.GetPathName();
        });
    }

    std::string name = "initial", picked, savedPath;
    bool flag = true, throwInInit = false;
    int applied = 0, innerResult = 0, answer = 0, saveResult = 0;
    platform::HWND outerDuringNested = nullptr, activeAfterNested = nullptr, seenHandle = nullptr;

protected:
    bool OnInitDialog() override {
        if (throwInInit) throw std::runtime_error("init failed");
        seenHandle = GetSafeHwnd();
        AddItem(kCombo, "first");
        InsertItem(kCombo, 0, "second");  // in front: the list reads second, first
        SetCurSel(kCombo, 1);
        AddItem(kTab, "General");
        AddItem(kTab, "Details");
        SetCurSel(kTab, 0);
        ShowItem(kEnd42, true);
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

TEST_F(DialogRuntime, TemplatesComeFromTheCurrentModuleThenTheLibrary) {
    // The module's own 129 wins over the library's; a template the module
    // lacks comes from the library; one of another version counts as missing.
    ASSERT_NE(platform::FindDialogTemplate(129), nullptr);
    EXPECT_STREQ(platform::FindDialogTemplate(129)->caption, "Test 129");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    ASSERT_NE(platform::FindDialogTemplate(129), nullptr);
    EXPECT_STRNE(platform::FindDialogTemplate(129)->caption, "Test 129");
    EXPECT_EQ(platform::FindDialogTemplate(900), nullptr);
    frame::AfxSetResourceHandle(module_);
    EXPECT_EQ(platform::FindDialogTemplate(901), nullptr);

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
    }
}

TEST_F(DialogRuntime, HandlersRunByControlId) {
    Sample dialog;
    hl::QueueScript({hl::Type(kName, "applied"), hl::Press(kApply), hl::Pick(kCombo, 0), hl::Press(kEnd42)});
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_EQ(dialog.name + std::to_string(dialog.applied) + dialog.picked, "applied1#0");  // UpdateData(true) ran
    EXPECT_EQ(LastRun().atStart.Find(kCombo)->items, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(LastRun().atStart.Find(kCombo)->selected, 1);
    EXPECT_EQ(LastRun().atStart.Find(kTab)->items, (std::vector<std::string>{"General", "Details"}));
}

TEST_F(DialogRuntime, HiddenOrDisabledControlsRefuseTheUser) {
    Sample dialog;
    hl::QueueScript({hl::Press(kHidden), hl::Press(kDisabled), hl::Press(777), hl::Pick(kCombo, 5)});
    EXPECT_EQ(dialog.DoModal(), platform::IDCANCEL);  // the script ran out: closed as by the close box
    EXPECT_TRUE(LastRun().closedByBackend);
    EXPECT_EQ(LastRun().refusedActions,
              (std::vector<std::string>{"control 18 is hidden", "control 19 is disabled", "no control 777",
                                        "control 12 has no item 5"}));
}

TEST_F(DialogRuntime, ShowEnableMoveAreSeenByTheBackend) {
    Sample dialog;
    hl::WindowState seen;
    hl::QueueScript({hl::Look([&](const hl::WindowState& w) { seen = w; }), hl::Press(1)});
    platform::SetModalStartObserver([](platform::Dialog& d) {
        d.ShowItem(kHidden, true);
        d.EnableItem(kApply, false);
        d.MoveItem(kName, {5, 6, 70, 20});
        d.SetCaption("Renamed");
    });
    EXPECT_EQ(dialog.DoModal(), platform::IDOK);
    platform::SetModalStartObserver(nullptr);
    EXPECT_TRUE(seen.caption == "Renamed" && seen.Find(kHidden)->visible && !seen.Find(kApply)->enabled);
    EXPECT_EQ(seen.Find(kName)->rect, (platform::PixelRect{5, 6, 70, 20}));
    // Template rectangles in pixels, the window's size, the picture's image.
    const hl::WindowState& start = LastRun().atStart;
    EXPECT_EQ(std::make_pair(start.width, start.height), std::make_pair(350, 340));
    EXPECT_EQ(start.Find(kFlag)->rect, (platform::PixelRect{18, 60, 105, 20}));
    EXPECT_FALSE(start.Find(kHidden)->visible || start.Find(kDisabled)->enabled);
    EXPECT_EQ(start.Find(kPicture)->imageWidth * start.Find(kPicture)->imageHeight, 65u * 65u);  // the library's 1003
    EXPECT_EQ(start.Find(kNoPicture)->imageWidth, 0u);
    // Outside DoModal there are no controls to change.
    EXPECT_FALSE(dialog.SetItemText(kName, "x") || dialog.GetItemRect(kName).has_value());
}

TEST_F(DialogRuntime, LiveWhileModalAndOwnerOfNestedDialogs) {
    Sample dialog;
    hl::QueueScript({hl::Press(kNested), hl::Press(1)});
    hl::QueueScript({hl::Press(kEnd42)});  // the inner dialog's
    EXPECT_EQ(platform::GetActiveWindow(), nullptr);
    EXPECT_EQ(dialog.DoModal(), platform::IDOK);
    EXPECT_EQ(dialog.innerResult, 42);
    ASSERT_NE(dialog.seenHandle, nullptr);
    // The outer dialog is active again after the inner one, which it owned and which ended first.
    ASSERT_EQ(hl::Runs().size(), 2u);
    const platform::HWND owner = hl::Runs()[0].atStart.owner;
    EXPECT_EQ((std::vector<platform::HWND>{dialog.outerDuringNested, dialog.activeAfterNested, owner}),
              (std::vector<platform::HWND>(3, dialog.seenHandle)));
    EXPECT_FALSE(platform::IsWindow(dialog.seenHandle) || platform::GetActiveWindow() || dialog.GetSafeHwnd());
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

TEST_F(DialogRuntime, MessageBoxesAreOwnedByTheDialogAndAnsweredFromTheQueue) {
    hl::ClearRecordedMessageBoxes();
    hl::QueueMessageBoxAnswer(platform::IDNO);
    Sample dialog;
    hl::QueueScript({hl::Press(kMessage), hl::Press(1)});
    dialog.DoModal();
    EXPECT_EQ(dialog.answer, platform::IDNO);
    ASSERT_EQ(hl::RecordedMessageBoxes().size(), 1u);
    EXPECT_TRUE(hl::RecordedMessageBoxes()[0].owner == dialog.seenHandle &&
                hl::RecordedMessageBoxes()[0].type == platform::MB_YESNO);
    // With the queue empty the preset answer holds, and no owner is none.
    EXPECT_EQ(platform::MessageBoxA(nullptr, "x", "y", 0), platform::IDOK);
    EXPECT_EQ(hl::RecordedMessageBoxes()[1].owner, nullptr);
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
    const hl::FileRequest& request = hl::FileRequests().back();
    EXPECT_TRUE(request.save && request.initialName == "token" && request.defaultExtension == "tst");
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(request.filters, (Pairs{{"Tokens (*.tst)", "*.tst"}, {"All Files (*.*)", "*.*"}}));
    // Without a queued answer the dialog is cancelled.
    platform::FileDialog open(true, "", "", "");
    EXPECT_EQ(open.DoModal(), platform::IDCANCEL);
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
