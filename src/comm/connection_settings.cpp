// The connection settings that the downloads of this library use: proxy
// mode, proxy server and credentials, as the last ZORBELPRVSetProxy gave them.
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "comm/connection_settings.h"
#include "zorbelcomm.h"

namespace zorbelu::comm {
namespace {

ConnectionSettings current;

bool HasNul(const char* field, size_t size) { return std::memchr(field, '\0', size) != nullptr; }

}  // namespace

const ConnectionSettings& CurrentConnectionSettings() { return current; }

}  // namespace zorbelu::comm

using zorbelu::comm::ConnectionSettings;

extern "C" ZORBELCOMM_API uint32_t ZORBELPRVSetProxy(const ZORBELUProxyInfo* proxy) {
    if (proxy == nullptr || proxy->proxyMode > ZORBELU_PROXY_SERVER) return ZORBELCOMM_ERR_PARAM;
    ConnectionSettings next;
    next.proxyMode = proxy->proxyMode;
    if (proxy->proxyMode == ZORBELU_PROXY_SERVER) {
        if (!zorbelu::comm::HasNul(proxy->proxyServer, sizeof proxy->proxyServer)) return ZORBELCOMM_ERR_TOO_LONG;
        next.proxyServer = proxy->proxyServer;
    }
    if (proxy->proxyMode != ZORBELU_PROXY_SYSTEM && proxy->credentialMode == ZORBELU_CREDENTIALS_GIVEN) {
        for (const char* field : {proxy->credential1, proxy->credential2, proxy->credential3})
            if (!zorbelu::comm::HasNul(field, sizeof proxy->credential1)) return ZORBELCOMM_ERR_TOO_LONG;
        next.hasCredentials = true;
        next.user = proxy->credential1;
        next.password = proxy->credential2;
        next.domain = proxy->credential3;
    }
    zorbelu::comm::current = std::move(next);
    return ZORBELCOMM_OK;
}
