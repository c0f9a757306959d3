// The connection settings that the downloads of this library use: proxy
// mode, proxy server and credentials, as the last ZORBELPRVSetProxy gave them.
//
// With proxy mode 1 (the system's settings) nothing but the mode is taken:
// the caller does not validate the other fields in that mode, and the
// environment's proxy URL carries its own credentials if it needs any.
#include <cstring>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>

#include "comm/body_cache.h"
#include "comm/connection_settings.h"
#include "zorbelcomm.h"

namespace zorbelu::comm {
namespace {

std::mutex settingsMutex;
ConnectionSettings current;

bool HasNul(const char* field, size_t size) { return std::memchr(field, '\0', size) != nullptr; }

}  // namespace

ConnectionSettings CurrentConnectionSettings() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    return current;
}

void ResetConnectionSettings() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    current = ConnectionSettings{};
}

}  // namespace zorbelu::comm

using zorbelu::comm::ConnectionSettings;

extern "C" ZORBELCOMM_API uint32_t ZORBELPRVSetProxy(const ZORBELUProxyInfo* proxy) {
    if (proxy == nullptr || proxy->proxyMode > ZORBELU_PROXY_SERVER) return ZORBELCOMM_ERR_PARAM;
    try {
        ConnectionSettings next;
        next.proxyMode = proxy->proxyMode;
        if (proxy->proxyMode == ZORBELU_PROXY_SERVER) {
            if (!zorbelu::comm::HasNul(proxy->proxyServer, sizeof proxy->proxyServer))
                return ZORBELCOMM_ERR_TOO_LONG;
            next.proxyServer = proxy->proxyServer;
        }
        if (proxy->credentialMode == ZORBELU_CREDENTIALS_GIVEN) {
            for (const char* field : {proxy->credential1, proxy->credential2, proxy->credential3})
                if (!zorbelu::comm::HasNul(field, sizeof proxy->credential1)) return ZORBELCOMM_ERR_TOO_LONG;
            next.hasCredentials = true;
            next.user = proxy->credential1;
            next.password = proxy->credential2;
            next.domain = proxy->credential3;
        }
        {
            std::lock_guard<std::mutex> lock(zorbelu::comm::settingsMutex);
            zorbelu::comm::current = std::move(next);
        }
        // A body kept for a retry was fetched under the old settings.
        zorbelu::comm::KeptBodies().Clear();
        return ZORBELCOMM_OK;
    } catch (...) {  // only memory can run out here
        return ZORBELCOMM_ERR_FAILED;
    }
}
