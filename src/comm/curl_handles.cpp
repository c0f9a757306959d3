// libcurl's global setup and the small helpers around its handles.
#include "comm/curl_handles.h"

#include <mutex>

namespace zorbelu::comm {

bool EnsureCurlInitialized() {
    // curl_global_init is not thread-safe; run it once. It is never undone:
    // curl_global_cleanup at unload could pull libcurl's shared state (the
    // TLS library's) from under another user of libcurl in the process.
    static std::once_flag once;
    static CURLcode initResult = CURLE_FAILED_INIT;
    std::call_once(once, [] { initResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return initResult == CURLE_OK;
}

bool AppendHeader(CurlSlist& list, const char* line) {
    curl_slist* extended = curl_slist_append(list.get(), line);
    if (extended == nullptr) return false;
    // curl_slist_append returns the head, which is the old head unless the
    // list was empty.
    if (extended != list.get()) {
        (void)list.release();
        list.reset(extended);
    }
    return true;
}

}  // namespace zorbelu::comm
