// zorbelu's commands on certificates: gathering a token's chain and CRLs,
// and the three verdicts on a TSA certificate.
#pragma once

#include "cli_support.h"

namespace zorbelu::cli {

int CertsCommand(const Arguments& args);
int TsaCertCommand(const Arguments& args);

}  // namespace zorbelu::cli
