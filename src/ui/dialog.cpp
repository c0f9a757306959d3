#include "ui/dialog.h"

#include <algorithm>
#include <atomic>

#include "platform/module.h"
#include "ui/dialog_window.h"
#include "ui/ui_backend.h"

namespace zorbelu::platform {
namespace {

// The result of a dialog whose template cannot be found.
constexpr uint32_t kTemplateMissing = 1004;

std::function<void(Dialog&)>& ModalStartObserver() {
    static std::function<void(Dialog&)> observer;
    return observer;
}

const ZorbeluDialogTemplate* TemplateOf(HINSTANCE module, uint32_t id) {
    const ZorbeluBinaryResource* resource = FindResource(module, "DIALOG", id);
    if (resource == nullptr || resource->data == nullptr || resource->size != sizeof(ZorbeluDialogTemplate))
        return nullptr;
    const auto* dialog = static_cast<const ZorbeluDialogTemplate*>(resource->data);
    if (dialog->version != ZORBELU_DIALOG_TEMPLATE_VERSION || dialog->id != id) return nullptr;
    if (dialog->controlCount != 0 && dialog->controls == nullptr) return nullptr;
    return dialog;
}

std::atomic<ResourceModuleSource> resourceModuleSource{nullptr};

HWND HandleOf(const Dialog* dialog) {
    return reinterpret_cast<HWND>(const_cast<Dialog*>(dialog));
}

}  // namespace

void SetResourceModuleSource(ResourceModuleSource source) { resourceModuleSource.store(source); }

HINSTANCE CurrentResourceModule() {
    const ResourceModuleSource source = resourceModuleSource.load();
    return source != nullptr ? source() : OwnModuleHandle();
}

const ZorbeluDialogTemplate* FindDialogTemplate(uint32_t id) {
    if (const ZorbeluDialogTemplate* found = TemplateOf(CurrentResourceModule(), id)) return found;
    return TemplateOf(OwnModuleHandle(), id);
}

const ZorbeluBinaryResource* FindImage(uint32_t id) {
    const ZorbeluBinaryResource* found = FindResource(CurrentResourceModule(), "PNG", id);
    if (found == nullptr || found->data == nullptr) found = FindResource(OwnModuleHandle(), "PNG", id);
    return found != nullptr && found->data != nullptr ? found : nullptr;
}

namespace {

// Keeps the registry of live windows and the active window right for the
// length of a modal run, on every way out.
class LiveWindowScope {
public:
    explicit LiveWindowScope(HWND window) : window_(window), previous_(GetActiveWindow()) {
        RegisterWindow(window_);
        SetActiveWindow(window_);
    }
    ~LiveWindowScope() {
        UnregisterWindow(window_);
        SetActiveWindow(IsWindow(previous_) ? previous_ : nullptr);
    }
    LiveWindowScope(const LiveWindowScope&) = delete;
    LiveWindowScope& operator=(const LiveWindowScope&) = delete;

private:
    HWND window_;
    HWND previous_;
};

}  // namespace


// ---- The dialog ------------------------------------------------------------------

Dialog::Dialog(uint32_t templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
    DestroyPages();
    DestroyPage();
}

HWND Dialog::GetSafeHwnd() const { return window_ != nullptr ? HandleOf(this) : nullptr; }

Dialog* DialogFromHandle(HWND window) {
    return IsWindow(window) ? reinterpret_cast<Dialog*>(window) : nullptr;
}

void* BackendWindowOf(HWND window) {
    Dialog* dialog = DialogFromHandle(window);
    // A page's windows belong to the dialog it lives in.
    while (dialog != nullptr && dialog->owner_ != nullptr) dialog = dialog->owner_;
    return dialog != nullptr && dialog->window_ != nullptr ? dialog->window_->handle() : nullptr;
}

void SetModalStartObserver(std::function<void(Dialog&)> observer) { ModalStartObserver() = std::move(observer); }

void Dialog::LoadTemplate(const ZorbeluDialogTemplate& dialog) {
    controls_.clear();
    controls_.reserve(dialog.controlCount);
    for (uint32_t i = 0; i < dialog.controlCount; ++i) {
        const ZorbeluDialogControl& c = dialog.controls[i];
        Control control;
        control.kind = c.kind;
        control.id = c.id;
        control.style = c.style;
        control.text = c.text != nullptr ? c.text : "";
        control.rect = MapDialogRect(c.rect);
        control.visible = (c.style & ZORBELU_CS_HIDDEN) == 0;
        control.enabled = (c.style & ZORBELU_CS_DISABLED) == 0;
        if (c.kind == ZORBELU_CTL_PICTURE && c.image != 0) control.image = FindImage(c.image);
        controls_.push_back(std::move(control));
    }
    caption_ = dialog.caption != nullptr ? dialog.caption : "";
}

// A control in the form the backend takes; valid while `c` and `items` live.
ZorbeluUiControl Dialog::Describe(const Control& c, const std::vector<const char*>& items) {
    ZorbeluUiControl out{};
    out.kind = c.kind;
    out.id = c.id;
    out.style = c.style;
    out.text = c.text.c_str();
    out.x = c.rect.x;
    out.y = c.rect.y;
    out.width = c.rect.width;
    out.height = c.rect.height;
    out.visible = c.visible ? 1 : 0;
    out.enabled = c.enabled ? 1 : 0;
    out.checked = c.checked ? 1 : 0;
    if (c.image != nullptr) {
        out.image = static_cast<const uint8_t*>(c.image->data);
        out.imageSize = c.image->size;
    }
    out.items = items.empty() ? nullptr : items.data();
    out.itemCount = static_cast<uint32_t>(items.size());
    out.selected = c.selected;
    return out;
}

ZorbeluUiWindowSpec Dialog::DescribeWindow(const ZorbeluDialogTemplate& dialog,
                                           std::vector<ZorbeluUiControl>& described) const {
    // Controls fresh from their template have no items yet.
    static const std::vector<const char*> kNoItems;
    described.clear();
    described.reserve(controls_.size());
    for (const Control& c : controls_) described.push_back(Describe(c, kNoItems));
    const PixelRect size = MapDialogRect(dialog.rect);
    ZorbeluUiWindowSpec layout{};
    layout.templateId = templateId_;
    layout.caption = caption_.c_str();
    layout.style = dialog.style;
    layout.width = size.width;
    layout.height = size.height;
    layout.fontName = dialog.fontName;
    layout.fontPoints = dialog.fontPoints;
    layout.controls = described.data();
    layout.controlCount = static_cast<uint32_t>(described.size());
    return layout;
}

int Dialog::DoModal() {
    lastError_ = 1;
    failure_ = nullptr;
    ended_ = false;
    result_ = IDCANCEL;
    if (window_ != nullptr) {  // already running, or a page
        lastError_ = kTemplateMissing;
        return -1;
    }
    if (UiStatus() != 1) {
        lastError_ = UiStatus();
        return -1;
    }
    const ZorbeluDialogTemplate* dialog = FindDialogTemplate(templateId_);
    if (dialog == nullptr) {
        lastError_ = kTemplateMissing;
        return -1;
    }
    LoadTemplate(*dialog);
    std::vector<ZorbeluUiControl> described;
    const ZorbeluUiWindowSpec layout = DescribeWindow(*dialog, described);

    // A dialog without a parent belongs to the active window, as on Windows.
    void* ownerWindow = BackendWindowOf(parent_ != nullptr ? parent_ : GetActiveWindow());

    Window window(*this, layout, ownerWindow);
    if (window.handle() == nullptr) {
        lastError_ = kUiUnavailable;
        controls_.clear();
        return -1;
    }
    struct Detach {
        Dialog& dialog;
        ~Detach() {
            dialog.DestroyPages();
            dialog.window_ = nullptr;
            dialog.controls_.clear();
        }
    } detach{*this};
    window_ = &window;
    LiveWindowScope live(HandleOf(this));

    try {
        OnInitDialog();
    } catch (...) {
        Fail(std::current_exception());
    }
    if (!ended_) window.backend().runModal(window.handle());
    if (failure_ != nullptr) std::rethrow_exception(std::exchange(failure_, nullptr));
    return result_;
}

// ---- Pages -------------------------------------------------------------------

bool Dialog::CreatePage(Dialog& owner) {
    if (window_ != nullptr || owner.window_ == nullptr || &owner == this) return false;
    const ZorbeluDialogTemplate* dialog = FindDialogTemplate(templateId_);
    if (dialog == nullptr) return false;
    LoadTemplate(*dialog);
    std::vector<ZorbeluUiControl> described;
    ZorbeluUiWindowSpec layout = DescribeWindow(*dialog, described);
    layout.style |= ZORBELU_DS_CHILD;
    auto window = std::make_unique<Window>(*this, layout, owner.window_->handle());
    if (window->handle() == nullptr) {
        controls_.clear();
        return false;
    }
    pageWindow_ = std::move(window);
    window_ = pageWindow_.get();
    owner_ = &owner;
    pageVisible_ = false;
    owner.pages_.push_back(this);
    RegisterWindow(HandleOf(this));
    OnInitDialog();
    return true;
}

void Dialog::DestroyPage() {
    if (pageWindow_ == nullptr) return;
    DestroyPages();
    UnregisterWindow(HandleOf(this));
    if (owner_ != nullptr) {
        auto& siblings = owner_->pages_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    window_ = nullptr;
    controls_.clear();
    pageWindow_.reset();
    owner_ = nullptr;
    pageVisible_ = false;
}

void Dialog::DestroyPages() {
    // Newest first, each taking itself out of the list.
    while (!pages_.empty()) pages_.back()->DestroyPage();
}

bool Dialog::MoveWindow(const PixelRect& rect) {
    if (!IsPage() || rect.width < 0 || rect.height < 0) return false;
    if (window_->backend().placeWindow != nullptr)
        window_->backend().placeWindow(window_->handle(), rect.x, rect.y, rect.width, rect.height);
    return true;
}

bool Dialog::ShowWindow(bool show) {
    if (!IsPage()) return false;
    pageVisible_ = show;
    if (window_->backend().showWindow != nullptr) window_->backend().showWindow(window_->handle(), show ? 1 : 0);
    return true;
}

bool Dialog::IsWindowVisible() const { return IsPage() ? pageVisible_ : window_ != nullptr; }

// ---- Focus, keys and window rectangles ---------------------------------------

int Dialog::GetFocusId() const {
    if (window_ == nullptr || window_->backend().getFocus == nullptr) return 0;
    const int32_t index = window_->backend().getFocus(window_->handle());
    if (index < 0 || static_cast<size_t>(index) >= controls_.size()) return 0;
    return controls_[static_cast<size_t>(index)].id;
}

bool Dialog::SetFocusTo(int id) {
    const Control* c = Find(id);
    if (c == nullptr || window_->backend().setFocus == nullptr) return false;
    window_->backend().setFocus(window_->handle(), static_cast<uint32_t>(c - controls_.data()));
    return true;
}

std::optional<PixelRect> Dialog::GetWindowRect() const {
    if (window_ == nullptr || IsPage() || window_->backend().screenRect == nullptr) return std::nullopt;
    int32_t x = 0, y = 0, width = 0, height = 0;
    if (window_->backend().screenRect(window_->handle(), &x, &y, &width, &height) != 1) return std::nullopt;
    return PixelRect{x - kWindowFrameLeft, y - kWindowFrameTop, width + kWindowFrameLeft + kWindowFrameRight,
                     height + kWindowFrameTop + kWindowFrameBottom};
}

std::optional<PixelRect> Dialog::GetItemScreenRect(int id) const {
    const Control* c = Find(id);
    const std::optional<PixelRect> frame = GetWindowRect();
    if (c == nullptr || !frame) return std::nullopt;
    return PixelRect{frame->x + kWindowFrameLeft + c->rect.x, frame->y + kWindowFrameTop + c->rect.y, c->rect.width,
                     c->rect.height};
}

bool Dialog::SetWindowSize(int width, int height) {
    if (window_ == nullptr || IsPage() || window_->backend().placeWindow == nullptr) return false;
    const int clientWidth = width - kWindowFrameLeft - kWindowFrameRight;
    const int clientHeight = height - kWindowFrameTop - kWindowFrameBottom;
    if (clientWidth < 0 || clientHeight < 0) return false;
    window_->backend().placeWindow(window_->handle(), 0, 0, clientWidth, clientHeight);
    return true;
}

bool Dialog::OnKey(uint32_t key, int focusId) {
    if (IsPage()) return false;
    if (key == kKeyEscape) {
        OnCancel();
        return true;
    }
    if (key != kKeyReturn) return false;
    const Control* focused = Find(focusId);
    if (focused != nullptr && focused->kind == ZORBELU_CTL_BUTTON) {
        Click(focusId);
        return true;
    }
    for (const Control& c : controls_)
        if (c.kind == ZORBELU_CTL_BUTTON && (c.style & ZORBELU_CS_DEFAULT) != 0) {
            Click(c.id);
            return true;
        }
    OnOK();
    return true;
}

void Dialog::Click(int id) {
    if (Control* c = Find(id)) ClickAt(*c);
}

void Dialog::ClickAt(Control& c) {
    if (!c.visible || !c.enabled) return;
    const int id = c.id;
    if (Dispatch(id, Notify::Clicked)) return;
    if (id == IDOK) OnOK();
    if (id == IDCANCEL) OnCancel();
}

void Dialog::EndDialog(int result) {
    if (IsPage()) return;  // a page ends with its owner
    if (ended_) return;
    ended_ = true;
    result_ = result;
    if (window_ != nullptr) window_->backend().endModal(window_->handle());
}

void Dialog::Fail(std::exception_ptr error) {
    if (owner_ != nullptr) {  // the owner's modal run reports it
        owner_->Fail(std::move(error));
        return;
    }
    if (failure_ == nullptr) failure_ = std::move(error);
    EndDialog(-1);
}

bool Dialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

void Dialog::On(int id, Notify event, std::function<void()> handler) {
    handlers_[{id, event}] = std::move(handler);
}

bool Dialog::Dispatch(int id, Notify event) {
    const auto found = handlers_.find({id, event});
    if (found == handlers_.end()) return false;
    found->second();
    return true;
}

// ---- Events from the backend. They run inside the backend's loop, which
// may be C code: nothing may be thrown through it, so an exception ends the
// dialog and DoModal throws it again. ---------------------------------------------

template <typename Body>
void Dialog::Guarded(Dialog* dialog, Body&& body) {
    try {
        body();
    } catch (...) {
        dialog->Fail(std::current_exception());
    }
}

// The body of an event on control `index`, guarded; events for a control
// the dialog does not have are passed over.
template <typename Body>
void Dialog::ForControl(void* context, uint32_t index, Body&& body) {
    auto* self = static_cast<Dialog*>(context);
    Guarded(self, [&] {
        if (index < self->controls_.size()) body(*self, self->controls_[index]);
    });
}

void Dialog::OnClicked(void* context, uint32_t index) {
    ForControl(context, index, [](Dialog& self, Control& c) { self.ClickAt(c); });
}

void Dialog::OnSelected(void* context, uint32_t index, int32_t item) {
    ForControl(context, index, [item](Dialog& self, Control& c) {
        if (item < -1 || item >= static_cast<int>(c.items.size())) return;
        c.selected = item;
        self.Dispatch(c.id, Notify::SelectionChanged);
    });
}

void Dialog::OnEdited(void* context, uint32_t index, const char* text) {
    ForControl(context, index, [text](Dialog& self, Control& c) {
        c.text = text != nullptr ? text : "";
        self.Dispatch(c.id, Notify::TextChanged);
    });
}

void Dialog::OnToggled(void* context, uint32_t index, int32_t checked) {
    ForControl(context, index, [checked](Dialog& self, Control& c) {
        c.checked = checked != 0;
        self.Dispatch(c.id, Notify::Clicked);
    });
}

void Dialog::OnCloseRequested(void* context) {
    auto* self = static_cast<Dialog*>(context);
    Guarded(self, [self] { self->OnCancel(); });
}

int32_t Dialog::OnKeyPressed(void* context, uint32_t key, int32_t focusIndex) {
    auto* self = static_cast<Dialog*>(context);
    bool handled = false;
    Guarded(self, [&] {
        const bool known = focusIndex >= 0 && static_cast<size_t>(focusIndex) < self->controls_.size();
        handled = self->OnKey(key, known ? self->controls_[static_cast<size_t>(focusIndex)].id : 0);
    });
    return handled ? 1 : 0;
}

void Dialog::OnModalStarted(void* context) {
    auto* self = static_cast<Dialog*>(context);
    Guarded(self, [self] {
        if (ModalStartObserver()) ModalStartObserver()(*self);
    });
}

}  // namespace zorbelu::platform
