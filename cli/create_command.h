// zorbelu create: asks an RFC 3161 TSA over HTTP for a token on a file's
// digest (or a digest given) and writes the token.
#pragma once

#include "cli_support.h"

namespace zorbelu::cli {

int CreateCommand(const Arguments& args);

}  // namespace zorbelu::cli
