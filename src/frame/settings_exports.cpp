// The version export and the exports that set and read the library settings.
#include <cstring>
#include <string>

#include "frame/app.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "zorbelutil.h"

namespace zorbelu::frame {
namespace {

// A text argument is accepted when it is there, not empty and exactly as
// long as the caller says.
bool TextArgumentMatches(const char* text, uint32_t length) {
    return text != nullptr && length != 0 && std::strlen(text) == length;
}

uint32_t CheckPrivateText(const char* text, uint32_t length, uint32_t callerCode) {
    if (callerCode != ZORBELU_PRIVATE_CALLER_CODE || !TextArgumentMatches(text, length)) return ZORBELU_ERR_PARAM;
    if (length >= kTextSettingSize) return ZORBELU_ERR_TOO_LONG;
    return ZORBELU_OK;
}

bool IsFlag(int32_t flag) { return flag == 0 || flag == 1; }

}  // namespace
}  // namespace zorbelu::frame

using namespace zorbelu::frame;

extern "C" {

ZORBELU_API uint32_t ZORBELUGetLibVer(uint32_t* major, uint32_t* minor, uint32_t* build) {
    return GuardedExport(ZORBELU_OK, [&] {
        if (major != nullptr) *major = 5;
        if (minor != nullptr) *minor = 0;
        if (build != nullptr) *build = 101;
        return ZORBELU_OK;
    });
}

ZORBELU_API uint32_t ZORBELUSetLanguage(const char* code) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (code == nullptr || std::strlen(code) != 3) return ZORBELU_ERR_PARAM;
        std::memcpy(Settings().languageCode, code, 4);
        return ZORBELU_OK;
    });
}

ZORBELU_API uint32_t ZORBELUPRVSetModuleName(const char* name, uint32_t length, uint32_t callerCode) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        const uint32_t check = CheckPrivateText(name, length, callerCode);
        if (check != ZORBELU_OK) return check;
        std::memcpy(Settings().moduleName, name, length + 1);
        return ZORBELU_OK;
    });
}

ZORBELU_API uint32_t ZORBELUPRVGetModuleName(char* buffer, uint32_t bufferSize, uint32_t callerCode) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (callerCode != ZORBELU_PRIVATE_CALLER_CODE || buffer == nullptr || bufferSize == 0) return ZORBELU_ERR_PARAM;
        const size_t length = std::strlen(Settings().moduleName);
        if (bufferSize <= length) return ZORBELU_ERR_BUFFER_TOO_SMALL;
        std::memcpy(buffer, Settings().moduleName, length + 1);
        return ZORBELU_OK;
    });
}

ZORBELU_API uint32_t ZORBELUPRVSetResourceDLL(ZORBELU_HINSTANCE module, uint32_t callerCode) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (callerCode != ZORBELU_PRIVATE_CALLER_CODE) return ZORBELU_ERR_PARAM;
        Settings().resourceModule = module;
        return ZORBELU_OK;
    });
}

ZORBELU_API ZORBELU_HINSTANCE ZORBELUPRVGetResourceDLL(void) {
    return GuardedExport<ZORBELU_HINSTANCE>(nullptr, [] { return Settings().resourceModule; });
}

ZORBELU_API uint32_t ZORBELUPRVSetDoDisplayedTempravoLogo(int32_t flag) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (!IsFlag(flag)) return ZORBELU_ERR_PARAM;
        Settings().displayLogo = flag;
        return ZORBELU_OK;
    });
}

ZORBELU_API int32_t ZORBELUPRVDoDisplayedTempravoLogo(void) {
    return GuardedExport<int32_t>(0, [] { return Settings().displayLogo; });
}

ZORBELU_API uint32_t ZORBELUPRVSetDoDisplayedIssuerInfo(int32_t flag) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (!IsFlag(flag)) return ZORBELU_ERR_PARAM;
        Settings().displayIssuerInfo = flag;
        return ZORBELU_OK;
    });
}

ZORBELU_API int32_t ZORBELUPRVDoDisplayedIssuerInfo(void) {
    return GuardedExport<int32_t>(1, [] { return Settings().displayIssuerInfo; });
}

ZORBELU_API uint32_t ZORBELUPRVSetMessageDlgTitle(const char* title, uint32_t length, uint32_t callerCode) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        const uint32_t check = CheckPrivateText(title, length, callerCode);
        if (check != ZORBELU_OK) return check;
        char copy[kTextSettingSize] = {};
        std::memcpy(copy, title, length);
        Settings().messageBoxTitle = copy;
        return ZORBELU_OK;
    });
}

ZORBELU_API uint32_t ZORBELUPRVSetVerifiedDlgTitle(const char* title, uint32_t length, uint32_t callerCode) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        const uint32_t check = CheckPrivateText(title, length, callerCode);
        if (check != ZORBELU_OK) return check;
        std::memset(Settings().verifiedDlgTitle, 0, kTextSettingSize);
        std::memcpy(Settings().verifiedDlgTitle, title, length);
        return ZORBELU_OK;
    });
}

ZORBELU_API const char* ZORBELUPRVGetVerifiedDlgTitle(void) {
    return GuardedExport<const char*>("", [] {
        if (Settings().verifiedDlgTitle[0] != '\0') return static_cast<const char*>(Settings().verifiedDlgTitle);
        SelectLanguageResources();
        static std::string defaultTitle;
        defaultTitle = LoadResourceString(kStringSignatureProperties);
        return defaultTitle.c_str();
    });
}

}  // extern "C"
