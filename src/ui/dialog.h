// The dialog runtime: the stand-in for MFC's CDialog.
//
// A Dialog is built from a template of the current resource module (the
// library's own when that module has none), runs modally through the
// process's UI backend (ui_backend.h) and exists as a window, registered in
// windows.h, only while DoModal runs. Derived dialogs bind member strings to
// control ids in DoDataExchange, fill them in OnInitDialog and react to
// controls through handlers registered by id; positions are pixels (dialog
// units are turned into pixels once, when the window is made).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/module.h"
#include "platform/resource_table.h"
#include "ui/dialog_template.h"
#include "ui/dialog_units.h"
#include "ui/message_box.h"
#include "ui/ui_abi.h"
#include "ui/windows.h"

namespace zorbelu::platform {

class Dialog;

// What a handler reacts to.
enum class Notify { Clicked, SelectionChanged, TextChanged };

// The frame that Windows draws around a dialog's client area at 96 dpi: a
// window rectangle (GetWindowRect) is the client area grown by it. Layout
// rules written against window rectangles (a control moved by the distance
// of its window rectangle from the dialog's) keep their numbers with it.
inline constexpr int kWindowFrameLeft = 3;
inline constexpr int kWindowFrameTop = 26;  // the caption bar and the top edge
inline constexpr int kWindowFrameRight = 3;
inline constexpr int kWindowFrameBottom = 3;

// Keys offered to a dialog before the window system handles them.
inline constexpr uint32_t kKeyReturn = ZORBELU_KEY_RETURN;
inline constexpr uint32_t kKeyEscape = ZORBELU_KEY_ESCAPE;

// Where templates and pictures are looked up first: a function that answers
// the current resource module, asked at each look-up. The library's frame
// installs its own (the active module state's); until one is installed the
// library's own resources serve.
using ResourceModuleSource = HINSTANCE (*)();
void SetResourceModuleSource(ResourceModuleSource source);

// The module the installed source answers, else the library's own.
HINSTANCE CurrentResourceModule();

// The template `id` of the current resource module, else of the library's
// own resources; NULL when neither has it (or its version is not ours).
const ZorbeluDialogTemplate* FindDialogTemplate(uint32_t id);

// The PNG image `id` ("PNG" resource), looked up the same way; NULL when absent.
const ZorbeluBinaryResource* FindImage(uint32_t id);

// Moves values between members and controls (MFC's CDataExchange).
class DataExchange {
public:
    DataExchange(Dialog& dialog, bool saving) : dialog_(dialog), saving_(saving) {}
    bool saving() const { return saving_; }
    void Text(int id, std::string& value);
    void Check(int id, bool& value);
    void ComboIndex(int id, int& value);

private:
    Dialog& dialog_;
    bool saving_;
};

// A control as the runtime holds it.
struct ControlView {
    uint32_t kind;
    int id;
    uint32_t style;
    std::string text;
    PixelRect rect;
    bool visible;
    bool enabled;
};

class Dialog {
public:
    // `parent` may be NULL: the active window then owns the dialog.
    explicit Dialog(uint32_t templateId, HWND parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally. The id that ended it (IDOK, IDCANCEL, or what
    // EndDialog was given); -1 when no window could be made, and LastError()
    // then tells why (kUiUnavailable, or 1004 for a missing template).
    // An exception thrown by OnInitDialog or a handler ends the dialog and
    // leaves DoModal.
    int DoModal();
    void EndDialog(int result);
    uint32_t LastError() const { return lastError_; }

    uint32_t TemplateId() const { return templateId_; }
    // The window while DoModal runs, else NULL.
    HWND GetSafeHwnd() const;

    bool UpdateData(bool saveAndValidate);

    // Controls; false, -1 or empty when the window does not exist or has no
    // such control.
    bool HasItem(int id) const;
    bool SetItemText(int id, std::string_view text);
    std::string GetItemText(int id) const;
    bool ShowItem(int id, bool show);
    bool EnableItem(int id, bool enable);
    bool IsItemVisible(int id) const;
    bool IsItemEnabled(int id) const;
    bool MoveItem(int id, const PixelRect& rect);
    std::optional<PixelRect> GetItemRect(int id) const;
    bool SetCheck(int id, bool checked);
    bool GetCheck(int id) const;
    // Combo boxes, lists and tab controls share one item list.
    int AddItem(int id, std::string_view text);
    int InsertItem(int id, int index, std::string_view text);
    bool ResetItems(int id);
    int ItemCount(int id) const;
    int GetCurSel(int id) const;
    bool SetCurSel(int id, int index);
    void SetCaption(std::string_view caption);
    std::string GetCaption() const { return caption_; }

    // Keyboard focus: the id of this dialog's control that has it (0 when
    // none of them has), and moving it to control `id`.
    int GetFocusId() const;
    bool SetFocusTo(int id);

    // Screen pixels: the window rectangle (the client area grown by the
    // frame above) and a control's rectangle on the screen. Empty while the
    // window does not exist or the backend cannot tell where it is.
    std::optional<PixelRect> GetWindowRect() const;
    std::optional<PixelRect> GetItemScreenRect(int id) const;
    // Gives the window a new window rectangle size (the client area follows).
    bool SetWindowSize(int width, int height);

    // Pages: this dialog made from its own template as a modeless child of
    // `owner`'s window, which must exist (from the owner's OnInitDialog on).
    // The page's OnInitDialog runs; the page is hidden until ShowWindow and
    // is destroyed with the owner's window (or DestroyPage). False when no
    // window could be made.
    bool CreatePage(Dialog& owner);
    void DestroyPage();
    bool IsPage() const { return owner_ != nullptr; }
    // The pages living in this dialog, in the order made.
    const std::vector<Dialog*>& Pages() const { return pages_; }
    // Place (owner's client pixels) and visibility of a page.
    bool MoveWindow(const PixelRect& rect);
    bool ShowWindow(bool show);
    bool IsWindowVisible() const;

    std::vector<ControlView> Controls() const;
    // Layout tests: the backend's natural size of control `index` of
    // Controls(), and a picture of the window. False where the backend
    // cannot tell.
    bool NaturalSize(size_t index, int* width, int* height) const;
    bool Snapshot(const std::string& pngPath) const;

protected:
    // Runs once the controls exist, before the window shows; the default
    // moves the members into the controls. The result (the focus rule of
    // Windows) is not used.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(DataExchange& dx);
    // OK and Cancel without a handler of their own.
    virtual void OnOK();
    virtual void OnCancel();
    // Enter or Escape while control `focusId` (0: none) has the focus; true
    // when handled. A dialog presses the focused button on Enter, else its
    // default button, and cancels on Escape; a page handles no key.
    virtual bool OnKey(uint32_t key, int focusId);
    // Presses control `id` as a click would (nothing for a hidden or
    // disabled one).
    void Click(int id);

    // The message map: `handler` runs when control `id` reports `event`.
    void On(int id, Notify event, std::function<void()> handler);

private:
    struct Control {
        uint32_t kind = 0;
        int id = ZORBELU_ID_NONE;
        uint32_t style = 0;
        std::string text;
        PixelRect rect;
        bool visible = true;
        bool enabled = true;
        bool checked = false;
        const ZorbeluBinaryResource* image = nullptr;
        std::vector<std::string> items;
        int selected = -1;
    };
    class Window;
    friend void* BackendWindowOf(HWND window);

    Control* Find(int id);
    const Control* Find(int id) const;
    void Sync(const Control& control);
    // Applies `edit` to control `id` and shows the change; false when there
    // is no such control.
    template <typename Edit>
    bool ChangeItem(int id, Edit&& edit) {
        Control* c = Find(id);
        if (c == nullptr) return false;
        edit(*c);
        Sync(*c);
        return true;
    }
    bool Dispatch(int id, Notify event);
    void Fail(std::exception_ptr error);
    // The template's controls in pixels, and the window description of them.
    void LoadTemplate(const ZorbeluDialogTemplate& dialog);
    static ZorbeluUiControl Describe(const Control& control, const std::vector<const char*>& items);
    ZorbeluUiWindowSpec DescribeWindow(const ZorbeluDialogTemplate& dialog,
                                       std::vector<ZorbeluUiControl>& described) const;
    void ClickAt(Control& control);
    void DestroyPages();
    // Runs the body of a window-system event; an exception ends the dialog.
    template <typename Body>
    static void Guarded(Dialog* dialog, Body&& body);
    // Likewise for an event on control `index`, passed over when there is
    // no such control.
    template <typename Body>
    static void ForControl(void* context, uint32_t index, Body&& body);

    static void OnClicked(void* context, uint32_t index);
    static void OnSelected(void* context, uint32_t index, int32_t item);
    static void OnEdited(void* context, uint32_t index, const char* text);
    static void OnToggled(void* context, uint32_t index, int32_t checked);
    static void OnCloseRequested(void* context);
    static void OnModalStarted(void* context);
    static int32_t OnKeyPressed(void* context, uint32_t key, int32_t focusIndex);

    uint32_t templateId_;
    HWND parent_;
    std::map<std::pair<int, Notify>, std::function<void()>> handlers_;
    std::vector<Control> controls_;
    std::string caption_;
    Window* window_ = nullptr;
    std::unique_ptr<Window> pageWindow_;  // pages own their window
    Dialog* owner_ = nullptr;            // pages: the dialog they live in
    std::vector<Dialog*> pages_;
    bool pageVisible_ = false;
    bool ended_ = false;
    int result_ = IDCANCEL;
    uint32_t lastError_ = 1;
    std::exception_ptr failure_;
};

// The live dialog behind a window handle, or NULL.
Dialog* DialogFromHandle(HWND window);

// The backend's window of a live dialog (the owner of a message box or file
// dialog), or NULL.
void* BackendWindowOf(HWND window);

// Called with every dialog once its modal loop has started (tools and
// layout tests); an empty function removes the observer.
void SetModalStartObserver(std::function<void(Dialog&)> observer);

}  // namespace zorbelu::platform
