#include "frame/app.h"

#include <openssl/conf.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

namespace zorbelu::frame {
namespace {

// One thread's scratch buffers, on the list of every thread's so that
// unloading the library frees those of threads that are still running.
struct ThreadScratch {
    ScratchBuffer buffers[1];
};

std::mutex threadScratchMutex;
std::vector<ThreadScratch*> threadScratches;  // guarded by threadScratchMutex
pthread_key_t threadScratchKey;               // each thread's ThreadScratch
bool threadScratchKeyMade = false;            // set before and cleared after any call

void ReleaseThreadScratch(void* scratch) {
    {
        const std::lock_guard<std::mutex> lock(threadScratchMutex);
        threadScratches.erase(std::remove(threadScratches.begin(), threadScratches.end(), scratch),
                              threadScratches.end());
    }
    delete static_cast<ThreadScratch*>(scratch);
}

void ReleaseEveryThreadScratch() {
    if (!threadScratchKeyMade) return;
    pthread_key_delete(threadScratchKey);  // threads ending later free nothing more
    threadScratchKeyMade = false;
    const std::lock_guard<std::mutex> lock(threadScratchMutex);
    for (ThreadScratch* scratch : threadScratches) delete scratch;
    threadScratches.clear();
}

ThreadScratch& CurrentThreadScratch() {
    if (!threadScratchKeyMade) throw std::runtime_error("no scratch buffers outside the library's lifetime");
    if (void* existing = pthread_getspecific(threadScratchKey)) return *static_cast<ThreadScratch*>(existing);
    auto scratch = std::make_unique<ThreadScratch>();
    for (ScratchBuffer& buffer : scratch->buffers) buffer.Grow();
    {
        const std::lock_guard<std::mutex> lock(threadScratchMutex);
        threadScratches.push_back(scratch.get());
    }
    if (pthread_setspecific(threadScratchKey, scratch.get()) != 0) {
        ReleaseThreadScratch(scratch.release());
        throw std::bad_alloc();
    }
    return *scratch.release();
}

}  // namespace

ScratchBuffer::~ScratchBuffer() { std::free(data); }

ScratchBuffer& ScratchBuffer::Grow() {
    std::free(data);
    capacity += kScratchGrowth;
    data = static_cast<uint8_t*>(std::malloc(capacity));
    return *this;
}

ScratchBuffer& AccessScratchBuffer(int index) { return CurrentThreadScratch().buffers[index]; }

ScratchBuffer& GrowScratchBuffer(int index) { return AccessScratchBuffer(index).Grow(); }

// Every thread, the loading one too, makes its buffers at first use.
CKadrelutilApp::CKadrelutilApp() : CWinApp(nullptr) {
    threadScratchKeyMade = pthread_key_create(&threadScratchKey, ReleaseThreadScratch) == 0;
}

// OpenSSL 3 sets itself up on first use: the tables of algorithm names when
// one is first looked up by name, its error texts when one is first asked
// for. Doing either here would cost every process that loads the library
// (a host that never verifies, a `zorbelu verify` that never prints an
// OpenSSL error) about 1.5 ms at load.
bool CKadrelutilApp::InitInstance() { return CWinApp::InitInstance(); }

int CKadrelutilApp::ExitInstance() {
    ReleaseEveryThreadScratch();
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
