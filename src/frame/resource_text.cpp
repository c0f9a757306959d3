#include "frame/resource_text.h"

#include <cstring>
#include <vector>

#include "frame/app.h"
#include "frame/module_state.h"
#include "ui/message_box.h"

namespace zorbelu::frame {

bool LanguageIsSet() { return std::strlen(Settings().languageCode) == 3; }

uint32_t ReadLanguageCode(char* destination, uint32_t size) {
    if (destination == nullptr || size == 0) return 1001;
    std::strncpy(destination, Settings().languageCode, size);
    return 1;
}

uint32_t LanguageModulePath(char* destination, uint32_t size) {
    if (destination == nullptr || size == 0) return 1001;
    if (!LanguageIsSet()) return kResultLanguageNotSet;
    char code[4] = {};
    ReadLanguageCode(code, sizeof code);
    std::vector<char> path(kMaxPath + 1, '\0');
    platform::GetModuleFileNameA(AfxGetInstanceHandle(), path.data(), kMaxPath);
    const std::string full = platform::LanguageModulePathOf(path.data(), code);
    std::strncpy(destination, full.c_str(), size);
    return 1;
}

bool LoadLanguageModule(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    platform::HINSTANCE module = platform::LoadLibraryA(path);
    if (module == nullptr) {
        std::vector<char> own(kMaxPath + 1, '\0');
        platform::GetModuleFileNameA(AfxGetInstanceHandle(), own.data(), kMaxPath);
        module = platform::LoadLibraryA(own.data());
        if (module == nullptr) return false;
    }
    AfxSetResourceHandle(module);
    return true;
}

void SelectLanguageResources() {
    if (!LanguageIsSet()) return;
    std::vector<char> path(kMaxPath + 1, '\0');
    if (LanguageModulePath(path.data(), kMaxPath) == 1) LoadLanguageModule(path.data());
}

TemporaryResourceModule::TemporaryResourceModule() {
    std::vector<char> path(kMaxPath + 1, '\0');
    if (LanguageIsSet() && LanguageModulePath(path.data(), kMaxPath) == 1) {
        handle_ = platform::LoadLibraryA(path.data());
        if (handle_ == nullptr) {
            std::vector<char> own(kMaxPath + 1, '\0');
            platform::GetModuleFileNameA(AfxGetInstanceHandle(), own.data(), kMaxPath);
            handle_ = platform::LoadLibraryA(own.data());
        }
        loaded_ = handle_ != nullptr;
    }
    if (!loaded_) handle_ = AfxGetResourceHandle();
}

TemporaryResourceModule::~TemporaryResourceModule() {
    if (loaded_) platform::FreeLibrary(handle_);
}

std::string LoadResourceString(platform::HINSTANCE module, uint32_t id) {
    // Start with 256 characters and double while the text may have been cut.
    std::vector<char> buffer(256);
    int length = platform::LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
    if (length == 0) return std::string();
    while (length >= static_cast<int>(buffer.size()) - 1) {
        buffer.resize(buffer.size() * 2);
        length = platform::LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
        if (length == 0) return std::string();
    }
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string LoadResourceString(uint32_t id) { return LoadResourceString(AfxGetResourceHandle(), id); }

void ShowMessageByText(const char* text, int32_t code, uint32_t type) {
    std::string message = text != nullptr ? text : "";
    if (code != 1) {
        // The format comes from a resource module, so it is filled in by hand
        // rather than handed to printf.
        std::string suffix = LoadResourceString(kStringErrorCodeFormat);
        if (const size_t at = suffix.find("%d"); at != std::string::npos)
            suffix.replace(at, 2, std::to_string(code));
        message += suffix;
    }
    platform::MessageBoxA(platform::GetActiveWindow(), message.c_str(), Settings().messageBoxTitle.c_str(), type);
}

void ShowMessageById(uint32_t id, int32_t code, uint32_t type) {
    const std::string text = LoadResourceString(id);
    ShowMessageByText(text.c_str(), code, type);
}

}  // namespace zorbelu::frame
