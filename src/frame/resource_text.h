// Resource text: the language module, the string loader and the message box.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "platform/module.h"

namespace zorbelu::frame {

// Room for a module path (the Windows MAX_PATH becomes the system's limit).
inline constexpr uint32_t kMaxPath = PATH_MAX;

inline constexpr uint32_t kResultLanguageNotSet = 1000;

// True when the stored language code is exactly three characters long.
bool LanguageIsSet();

// Copies the stored code as strncpy does: 1, or 1001 for a NULL destination
// or size 0.
uint32_t ReadLanguageCode(char* destination, uint32_t size);

// The language module's path: the library's own file name without its
// shared-object suffix, then the code and ".so". 1; 1001 for a NULL
// destination or size 0; 1000 when no language is set.
uint32_t LanguageModulePath(char* destination, uint32_t size);

// Loads the module at `path` and makes it the current resource module; when
// it cannot be loaded, the library's own file is loaded instead. True when
// the current resource module was replaced. A module once current is never
// unloaded.
bool LoadLanguageModule(const char* path);

// What every dialog and the default title do first: when a language is set,
// make its module the current resource module.
void SelectLanguageResources();

// A resource module for the length of one call: the language module when a
// language is set and it loads, else the library's own file, else the
// current resource module (not loaded, not released).
class TemporaryResourceModule {
public:
    TemporaryResourceModule();
    ~TemporaryResourceModule();
    TemporaryResourceModule(const TemporaryResourceModule&) = delete;
    TemporaryResourceModule& operator=(const TemporaryResourceModule&) = delete;

    platform::HINSTANCE handle() const { return handle_; }

private:
    platform::HINSTANCE handle_ = nullptr;
    bool loaded_ = false;
};

// String `id` of the current resource module; empty when it does not exist.
std::string LoadResourceString(uint32_t id);

// String `id` of a given module; empty when it does not exist.
std::string LoadResourceString(platform::HINSTANCE module, uint32_t id);

// Shows `text` in a message box owned by the active window, with the host's
// message box title. A code other than 1 is appended as "(Error code: N)".
void ShowMessageByText(const char* text, int32_t code, uint32_t type);
void ShowMessageById(uint32_t id, int32_t code, uint32_t type);

// String ids used here.
inline constexpr uint32_t kStringSignatureProperties = 5016;
inline constexpr uint32_t kStringErrorCodeFormat = 5017;

}  // namespace zorbelu::frame
