// The connection settings in force for the communication library's downloads.
#pragma once

#include <cstdint>
#include <string>

namespace zorbelu::comm {

struct ConnectionSettings {
    uint32_t proxyMode = 0;  // 0 direct, 1 system settings, 2 proxyServer
    std::string proxyServer; // "host:port"
    bool hasCredentials = false;
    std::string user;
    std::string password;
    std::string domain;
};

// A copy of the settings the last successful ZORBELPRVSetProxy gave (the
// defaults, direct and without credentials, before the first call). A copy,
// so that a download keeps consistent settings while another thread sets new
// ones.
ConnectionSettings CurrentConnectionSettings();

// Back to the defaults; for tests.
void ResetConnectionSettings();

}  // namespace zorbelu::comm
