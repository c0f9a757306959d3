#include "platform/message_box.h"

#include "platform/dialog.h"
#include "platform/ui_backend.h"

namespace zorbelu::platform {

int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type) {
    const ZorbeluUiBackend& backend = UiBackend();
    if (UiStatus() != 1) return 0;
    return backend.messageBox(BackendWindowOf(owner), text != nullptr ? text : "", caption != nullptr ? caption : "",
                              type);
}

}  // namespace zorbelu::platform
