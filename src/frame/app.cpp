#include "frame/app.h"

#include <openssl/conf.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdlib>

namespace zorbelu::frame {
namespace {

ScratchBuffer scratchBuffers[2];

void ReleaseScratchBuffers() {
    for (ScratchBuffer& buffer : scratchBuffers) {
        std::free(buffer.data);
        buffer.data = nullptr;
    }
}

}  // namespace

ScratchBuffer& AccessScratchBuffer(int index) { return scratchBuffers[index]; }

ScratchBuffer& GrowScratchBuffer(int index) {
    ScratchBuffer& buffer = scratchBuffers[index];
    std::free(buffer.data);
    buffer.capacity += kScratchGrowth;
    buffer.data = static_cast<uint8_t*>(std::malloc(buffer.capacity));
    return buffer;
}

CKadrelutilApp::CKadrelutilApp() : CWinApp(nullptr) {
    GrowScratchBuffer(kTsaCertBuffer);
    GrowScratchBuffer(kCrlBuffer);
}

bool CKadrelutilApp::InitInstance() {
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    return CWinApp::InitInstance();
}

int CKadrelutilApp::ExitInstance() {
    ReleaseScratchBuffers();
    CONF_modules_unload(1);
    // Frees this thread's OpenSSL state (the error queue among it).
    OPENSSL_thread_stop();
    return CWinApp::ExitInstance();
}

// The library's statics, in the order they come to life: the application
// object, then the settings (the message box title among them), then the
// start of the application. They end in the reverse order.
namespace {

CKadrelutilApp theApp;
LibrarySettings settings;

struct ApplicationLifetime {
    ApplicationLifetime() { theApp.InitInstance(); }
    ~ApplicationLifetime() { theApp.ExitInstance(); }
} lifetime;

}  // namespace

LibrarySettings& Settings() { return settings; }

}  // namespace zorbelu::frame
