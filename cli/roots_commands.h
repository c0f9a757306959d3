// zorbelu's commands on the trust anchors of the time-stamp services: the
// services and whether their roots are installed, and adding, testing and
// deleting those roots in the "ROOT" and "CA" stores.
#pragma once

#include <cstdint>
#include <string>

#include "cli_support.h"

namespace zorbelu::cli {

int RootsCommand(const Arguments& args);
int ServicesCommand(const Arguments& args);

// What a root-store result means for `operation` ("add", "test", "delete"),
// in words.
std::string RootResultText(const std::string& operation, uint32_t result);

}  // namespace zorbelu::cli
