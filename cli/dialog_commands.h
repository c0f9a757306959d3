// zorbelu's commands that show the library's dialogs.
#pragma once

#include <string>
#include <vector>

#include "cli_support.h"

namespace zorbelu::cli {

// token-dialog TOKEN [--store-from-token] [--lang CODE]: the token
// properties dialog; with --store-from-token its extended variant, on the CA
// certificates and CRLs gathered for the token.
int TokenDialogCommand(const Arguments& args);
extern const std::vector<std::string> kTokenDialogFlags;

}  // namespace zorbelu::cli
