// Resource modules: the stand-ins for the module functions of the Windows
// loader. A module handle (HINSTANCE) is either the library's own handle,
// whose resources are compiled in, or the dlopen() handle of a resource
// module that exports a ZorbeluResourceTable.
#pragma once

#include <cstdint>
#include <string>

#include "platform/resource_table.h"
#include "zorbeltypes.h"

namespace zorbelu::platform {

using HINSTANCE = ZORBELU_HINSTANCE;

// The handle that stands for this library itself.
HINSTANCE OwnModuleHandle();

// For a program with the library linked in, not loaded: what names the
// library file whose folder holds the modules that go with it (language
// modules, the dialog backend), and whose name they are named after. It is
// asked once, when a module is first looked for. Set first thing in main(),
// before any other thread runs.
void SetOwnFilePathSource(std::string (*source)());

// Full path of the library's own file (for the own handle) or of a loaded
// resource module; 0 when unknown. Copies at most size - 1 characters and a
// NUL, and returns the number of characters copied.
uint32_t GetModuleFileNameA(HINSTANCE module, char* buffer, uint32_t size);

// Strips the shared-object suffix of the file name in place: ".so" and any
// version numbers after it ("libx.so.5.0" -> "libx"); otherwise the last
// extension, as on other systems.
void PathRemoveExtensionA(char* path);

// The language module `code` of the library file `libraryFile`: the file
// name loses its shared-object suffix (as PathRemoveExtensionA) and gains the
// code and ".so" ("/usr/lib/libx.so.5" and "DEU" -> "/usr/lib/libxDEU.so").
std::string LanguageModulePathOf(const char* libraryFile, const char* code);

// Loads a resource module. The library's own file gives OwnModuleHandle()
// without taking a reference, so that the host can still unload the library.
// Any other file must export a resource table; NULL when it cannot be loaded
// or is no resource module.
HINSTANCE LoadLibraryA(const char* path);

// Releases a module loaded by LoadLibraryA; the own handle is never released.
void FreeLibrary(HINSTANCE module);

// The resource table of a module handle; NULL for an unknown handle.
const ZorbeluResourceTable* ResourceTableOf(HINSTANCE module);

// Copies string `id` of `module` into buffer (at most size - 1 characters and
// a NUL) and returns the number of characters copied; 0 when the string does
// not exist.
int LoadStringA(HINSTANCE module, uint32_t id, char* buffer, int size);

// The text of string `id` in a table (its ids sorted), or NULL when it does
// not exist.
const char* FindString(const ZorbeluResourceTable* table, uint32_t id);

// The text of string `id` in `module`, or NULL when it does not exist.
const char* FindStringResource(HINSTANCE module, uint32_t id);

// A binary resource of `module`, or NULL when it does not exist.
const ZorbeluBinaryResource* FindResource(HINSTANCE module, const char* type, uint32_t id);

}  // namespace zorbelu::platform

// The library's own resources, compiled into it.
extern "C" const ZorbeluResourceTable zorbelu_builtin_resources;
