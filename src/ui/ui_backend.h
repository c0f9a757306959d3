// The UI backend of the process: chosen once, on the first dialog or message
// box, and kept until the process ends.
//
//   ZORBELU_UI=headless   the headless backend (ui_headless.h): nothing is
//                         shown, tests drive and read every window
//   ZORBELU_UI=gtk, unset the GTK 3 module libzorbelutilnd-gtk.so, loaded
//                         with dlopen from beside the library (or from
//                         $ZORBELU_UI_MODULE); only with a display
//   anything else         no backend
//
// Without a backend (no DISPLAY nor WAYLAND_DISPLAY, module missing, GTK
// failing to start, an unknown ZORBELU_UI) every dialog fails at once with
// kUiUnavailable and message boxes answer 0; nothing waits or aborts.
#pragma once

#include <cstdint>

#include "ui/ui_abi.h"

namespace zorbelu::platform {

// The code a dialog fails with when no window can be shown: the library's
// "unexpected failure of a store or resource".
inline constexpr uint32_t kUiUnavailable = 1004;

// The process's backend; never fails (a table that shows nothing when no
// backend could be had).
const ZorbeluUiBackend& UiBackend();

// 1 when the backend can show windows, else kUiUnavailable.
uint32_t UiStatus();

// The name of the backend in use ("headless", "gtk", "none").
const char* UiBackendName();

}  // namespace zorbelu::platform
