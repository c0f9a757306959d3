// zorbelu's commands that show the library's dialogs.
#pragma once

#include <string>
#include <vector>

#include "cli_support.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

// token-dialog TOKEN [--store-from-token] [--lang CODE]: the token
// properties dialog; with --store-from-token its extended variant, on the CA
// certificates and CRLs gathered for the token.
int TokenDialogCommand(const Arguments& args);

// show TOKEN (--data FILE | --digest HEX [--alg NAME]) [--tabbed] [--zone
// ZONE] [--lang CODE] [connection options]: verifies the token with the
// full verification and shows the outcome in the signature properties
// dialog; the tabbed dialog also gets the three verdicts on the TSA
// certificate. Exit status as verify's.
int ShowCommand(const Arguments& args);

// The dialogs speak the language of --lang (or of the environment, which
// fills it in). Throws UsageError for a code that is not three letters.
void SelectDialogLanguage(const Arguments& args);

// The time zone of --zone: "local" (the default), "utc", an offset "+09:00"
// or "-05:30", or a zone of the library's table ("JST", "PST", ...).
// Throws UsageError.
ZORBELUTimeZoneSelector ZoneArgument(const std::string& text);

// Shows a verification's outcome in the plain or the tabbed dialog; for the
// tabbed one the TSA certificate is judged too (`timeout`, `proxy` for its
// downloads). 1, or the code of the dialog export.
uint32_t ShowVerificationResult(const ZORBELUBlob& token, uint32_t status, const ZORBELUTimeZoneSelector& zone,
                                bool tabbed, uint32_t timeout, const ZORBELUProxyInfo* proxy);

}  // namespace zorbelu::cli
