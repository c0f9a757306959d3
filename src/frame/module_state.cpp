#include "frame/module_state.h"

#include "ui/dialog.h"

namespace zorbelu::frame {
namespace {
thread_local ModuleState* activeState = nullptr;
}  // namespace

// The dialog runtime finds templates and pictures in the active state's
// resource module.
[[maybe_unused]] const bool kDialogResourcesFollowModuleState =
    (platform::SetResourceModuleSource(&AfxGetResourceHandle), true);

ModuleState& LibraryModuleState() {
    static ModuleState state{platform::OwnModuleHandle(), platform::OwnModuleHandle()};
    return state;
}

ModuleState& ActiveModuleState() { return activeState != nullptr ? *activeState : LibraryModuleState(); }

platform::HINSTANCE AfxGetInstanceHandle() { return ActiveModuleState().instance; }
platform::HINSTANCE AfxGetResourceHandle() { return ActiveModuleState().resource; }
void AfxSetResourceHandle(platform::HINSTANCE module) { ActiveModuleState().resource = module; }

ModuleStateGuard::ModuleStateGuard() : previous_(activeState) { activeState = &LibraryModuleState(); }
ModuleStateGuard::~ModuleStateGuard() { activeState = previous_; }

}  // namespace zorbelu::frame
