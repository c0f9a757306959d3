// Which proxy zorbelu's downloads go through, as other network tools
// decide it: --proxy URL for every download, --no-proxy for none, else the
// environment (http_proxy, https_proxy, all_proxy, no_proxy, each in lower
// or upper case).
#pragma once

#include "cli_support.h"
#include "zorbeltypes.h"

namespace zorbelu::cli {

// The connection settings of --proxy URL, --proxy-user [DOMAIN\]USER:PASSWORD
// and --no-proxy; without them the environment's proxy variables, the
// upper-case ones copied to the lower-case names libcurl reads where only
// those are missing. Throws UsageError.
ZORBELUProxyInfo Connection(const Arguments& args);

}  // namespace zorbelu::cli
