// Window handles: the registry of live windows of the library's dialog
// runtime behind the opaque ZORBELU_HWND, and the thread's active window.
#pragma once

#include "zorbeltypes.h"

namespace zorbelu::platform {

using HWND = ZORBELU_HWND;

// True when `window` is a live window of this process's dialog runtime.
bool IsWindow(HWND window);

// The calling thread's active window, or NULL.
HWND GetActiveWindow();

// Called by the dialog runtime as windows come and go.
void RegisterWindow(HWND window);
void UnregisterWindow(HWND window);
void SetActiveWindow(HWND window);

}  // namespace zorbelu::platform
