// zorbelu demo: an offline end-to-end verification on an embedded default.
#pragma once

#include "cli_support.h"

namespace zorbelu::cli {

int DemoCommand(const Arguments& args);

}  // namespace zorbelu::cli
