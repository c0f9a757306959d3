// zorbelu's commands on tokens.
#pragma once

#include "cli_support.h"

namespace zorbelu::cli {

int InfoCommand(const Arguments& args);
int VerifyCommand(const Arguments& args);

// The flags (options without a value) of each command.
extern const std::vector<std::string> kInfoFlags;
extern const std::vector<std::string> kVerifyFlags;

}  // namespace zorbelu::cli
