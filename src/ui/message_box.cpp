#include "ui/message_box.h"

#include "ui/dialog.h"
#include "ui/ui_backend.h"

namespace zorbelu::platform {

int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type) {
    const ZorbeluUiBackend& backend = UiBackend();
    if (UiStatus() != 1) return 0;
    return backend.messageBox(BackendWindowOf(owner), text != nullptr ? text : "", caption != nullptr ? caption : "",
                              type);
}

}  // namespace zorbelu::platform
