// The demo's own small PKI: a root, a TSA certificate issued by it with a
// CRL distribution point on the loopback server, and the root's CRL.
#pragma once

#include <string>

namespace zorbelu::cli {

struct DemoPki {
    std::string rootDer;
    std::string tsaCertDer;
    std::string tsaKeyPem;
    std::string crlDer;
};

// Throws std::runtime_error when OpenSSL fails.
DemoPki MakeDemoPki(const std::string& crlUrl);

}  // namespace zorbelu::cli
