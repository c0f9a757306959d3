// The backend's window of a dialog, owned for the length of one modal run
// (or, for a page, as long as the page lives). Internal to the dialog
// runtime.
#pragma once

#include "ui/dialog.h"
#include "ui/ui_backend.h"

namespace zorbelu::platform {

class Dialog::Window {
public:
    Window(Dialog& dialog, const ZorbeluUiWindowSpec& layout, void* owner) : backend_(UiBackend()) {
        events_ = {&dialog,
                   &Dialog::OnClicked,
                   &Dialog::OnSelected,
                   &Dialog::OnEdited,
                   &Dialog::OnToggled,
                   &Dialog::OnCloseRequested,
                   &Dialog::OnModalStarted,
                   &Dialog::OnKeyPressed};
        handle_ = backend_.createWindow(&layout, owner, &events_);
    }
    ~Window() {
        if (handle_ != nullptr) backend_.destroyWindow(handle_);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void* handle() const { return handle_; }
    const ZorbeluUiBackend& backend() const { return backend_; }

private:
    const ZorbeluUiBackend& backend_;
    ZorbeluUiEvents events_{};
    void* handle_ = nullptr;
};

}  // namespace zorbelu::platform
