// The application object and the process-wide state it owns: the two
// scratch buffers and the library settings.
#pragma once

#include <cstdint>
#include <string>

#include "platform/module.h"

namespace zorbelu::frame {

// A growable heap block shared by the library's calls. Growing discards the
// contents; when the allocation fails `data` is NULL while `capacity` has
// still grown, and the caller reports ZORBELU_ERR_MEMORY.
struct ScratchBuffer {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
};

inline constexpr int kTsaCertBuffer = 0;  // the TSA certificate extracted from a token
inline constexpr int kCrlBuffer = 1;      // a downloaded CRL when the caller gives no buffer
inline constexpr uint32_t kScratchGrowth = 10000;

ScratchBuffer& AccessScratchBuffer(int index);
ScratchBuffer& GrowScratchBuffer(int index);

inline constexpr uint32_t kTextSettingSize = 257;  // 256 characters and a NUL

struct LibrarySettings {
    char languageCode[4] = {};
    char moduleName[kTextSettingSize] = {};
    platform::HINSTANCE resourceModule = nullptr;
    int32_t displayLogo = 0;
    int32_t displayIssuerInfo = 1;
    std::string messageBoxTitle;
    char verifiedDlgTitle[kTextSettingSize] = {};
};

LibrarySettings& Settings();

// The framework's application base: started after the library's statics are
// constructed, finished before they are destroyed.
class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr) { (void)appName; }
    virtual ~CWinApp() = default;
    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }
};

class CKadrelutilApp final : public CWinApp {
public:
    CKadrelutilApp();
    bool InitInstance() override;
    int ExitInstance() override;
};

}  // namespace zorbelu::frame
