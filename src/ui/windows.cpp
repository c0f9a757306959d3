#include "ui/windows.h"

#include <algorithm>
#include <vector>

namespace zorbelu::platform {
namespace {

// The library runs on one thread at a time; dialogs are modal, so only a
// handful of windows are ever alive together.
std::vector<HWND>& LiveWindows() {
    static std::vector<HWND> windows;
    return windows;
}

thread_local HWND activeWindow = nullptr;

}  // namespace

bool IsWindow(HWND window) {
    if (window == nullptr) return false;
    const auto& live = LiveWindows();
    return std::find(live.begin(), live.end(), window) != live.end();
}

HWND GetActiveWindow() { return activeWindow; }

void RegisterWindow(HWND window) {
    if (window != nullptr && !IsWindow(window)) LiveWindows().push_back(window);
}

void UnregisterWindow(HWND window) {
    auto& live = LiveWindows();
    live.erase(std::remove(live.begin(), live.end(), window), live.end());
    if (activeWindow == window) activeWindow = nullptr;
}

void SetActiveWindow(HWND window) { activeWindow = IsWindow(window) ? window : nullptr; }

}  // namespace zorbelu::platform
