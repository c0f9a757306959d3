#include "ui/ui_backend.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/module.h"
#include "ui/ui_headless.h"

namespace zorbelu::platform {
namespace {

void* NoWindow(const ZorbeluUiWindowSpec*, void*, const ZorbeluUiEvents*) { return nullptr; }
void NoDestroy(void*) {}
void NoUpdate(void*, uint32_t, const ZorbeluUiControl*) {}
void NoCaption(void*, const char*) {}
void NoRun(void*) {}
int32_t NoMessageBox(void*, const char*, const char*, uint32_t, const ZorbeluUiButton*, uint32_t) { return 0; }

// What a process without a way to show windows gets.
constexpr ZorbeluUiBackend kNoBackend{
    ZORBELU_UI_BACKEND_VERSION, "none", nullptr, NoWindow, NoDestroy, NoUpdate, NoCaption, NoRun, NoRun,
    NoMessageBox, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

constexpr const char kGtkModuleName[] = "libzorbelutilnd-gtk.so";

// The GTK module: $ZORBELU_UI_MODULE, else beside the library's own file,
// else wherever the dynamic loader finds it. It is never unloaded: a
// toolkit cannot be taken out of a process that has used it.
const ZorbeluUiBackend* LoadGtkModule() {
    std::string path;
    if (const char* explicitPath = std::getenv("ZORBELU_UI_MODULE"); explicitPath != nullptr && *explicitPath != '\0') {
        path = explicitPath;
    } else {
        char own[4096] = {};
        GetModuleFileNameA(OwnModuleHandle(), own, sizeof own);
        std::string dir = own;
        const size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
        path = dir + kGtkModuleName;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) handle = dlopen(kGtkModuleName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    auto* table = static_cast<const ZorbeluUiBackend*>(dlsym(handle, ZORBELU_UI_BACKEND_SYMBOL));
    if (table == nullptr || table->version != ZORBELU_UI_BACKEND_VERSION || table->createWindow == nullptr ||
        table->destroyWindow == nullptr || table->updateControl == nullptr || table->setCaption == nullptr ||
        table->runModal == nullptr || table->endModal == nullptr || table->messageBox == nullptr) {
        dlclose(handle);
        return nullptr;
    }
    return table;
}

struct Choice {
    const ZorbeluUiBackend* backend;
    uint32_t status;
};

Choice Choose() {
    const char* wanted = std::getenv("ZORBELU_UI");
    if (wanted != nullptr && std::strcmp(wanted, "headless") == 0) return {&headless::Backend(), 1};
    if (wanted != nullptr && *wanted != '\0' && std::strcmp(wanted, "gtk") != 0) return {&kNoBackend, kUiUnavailable};
    if (!HasDisplay()) return {&kNoBackend, kUiUnavailable};
    const ZorbeluUiBackend* gtk = LoadGtkModule();
    if (gtk == nullptr) return {&kNoBackend, kUiUnavailable};
    if (gtk->start != nullptr && gtk->start() != 1) return {&kNoBackend, kUiUnavailable};
    return {gtk, 1};
}

const Choice& Chosen() {
    static const Choice choice = Choose();
    return choice;
}

}  // namespace

const ZorbeluUiBackend& UiBackend() { return *Chosen().backend; }
uint32_t UiStatus() { return Chosen().status; }
const char* UiBackendName() { return Chosen().backend->name; }

}  // namespace zorbelu::platform
