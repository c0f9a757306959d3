// The application object and the state it owns: the threads' scratch
// buffers and the library settings.
#pragma once

#include <cstdint>
#include <string>

#include "platform/module.h"

namespace zorbelu::frame {

// A growable heap block. Growing discards the contents; when the allocation
// fails `data` is NULL while `capacity` has still grown, and the caller
// reports ZORBELU_ERR_MEMORY. A call that needs room only while it runs
// keeps one of its own on its stack.
struct ScratchBuffer {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;

    ScratchBuffer() = default;
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    ScratchBuffer& Grow();
};

inline constexpr uint32_t kScratchGrowth = 10000;

// The scratch buffer each thread keeps across calls: the TSA certificate
// that ZORBELUGetCertificates hands out lies in it until the same thread's
// next call that uses it. Every thread has its own, 10,000 bytes at its
// first use, so a call never writes or reads a block that another thread
// can grow or free. A thread's buffer is freed when the thread ends, and
// every thread's when the library is unloaded.
inline constexpr int kTsaCertBuffer = 0;

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
