// The library's module state and the guard that every export enters.
//
// While a guard is in force, resource lookups (strings, dialog templates,
// images, embedded certificates) go to the library's current resource
// module. The guard also is the C boundary: no exception leaves an export.
#pragma once

#include <exception>
#include <new>

#include "platform/module.h"

namespace zorbelu::frame {

struct ModuleState {
    platform::HINSTANCE instance;  // the library itself
    platform::HINSTANCE resource;  // where resources are looked up
};

// The library's own module state (one per process).
ModuleState& LibraryModuleState();

// The module state in force on this thread: the library's inside an export.
ModuleState& ActiveModuleState();

platform::HINSTANCE AfxGetInstanceHandle();
platform::HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(platform::HINSTANCE module);

// Makes the library's module state the active one for its lifetime and
// restores the previous one on every way out.
class ModuleStateGuard {
public:
    ModuleStateGuard();
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

private:
    ModuleState* previous_;
};

// Runs the body of an export inside the guard. An exception that escapes the
// body becomes `onException`, so a host never sees one.
template <typename Result, typename Body>
Result GuardedExport(Result onException, Body&& body) noexcept {
    try {
        ModuleStateGuard guard;
        return body();
    } catch (...) {
        return onException;
    }
}

}  // namespace zorbelu::frame
