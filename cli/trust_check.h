// The command line's own word on trust, added to the library's answers.
//
// The by-policy verification (policies 1 and 2) answers from the token's
// integrity alone when the TSA certificate is self-issued: it leaves the
// trust in such a certificate to the host. zorbelu is that host, so it
// never vouches for a self-issued TSA certificate unless the very same
// certificate (byte for byte) is in the "ROOT" store (which shows the roots
// of --ca-file and --ca-dir too, run_trust.h). One rule, shared by
// every command that verifies or judges a TSA certificate.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zorbelutil.h"

namespace zorbelu::cli {

// The DER TSA certificate a token carries; nothing when it carries none or
// the token cannot be read.
std::optional<std::string> TsaCertificateOf(const ZORBELUBlob& token);

// The DER bytes of a certificate given as DER or PEM; nothing when the
// bytes are neither.
std::optional<std::string> CertificateDer(const std::string& bytes);

// Why the certificate `der` does not earn trust on its own: "" when it is
// not self-issued or when "ROOT" holds these very bytes.
std::string SelfIssuedDistrust(const std::string& der);

// A verification's answer as zorbelu reports it.
struct CheckedStatus {
    uint32_t status;
    std::string why;  // why the status is not 2501 (reasons.h), or why a 2501 became 2507
};

// The answer of an engine that checks the TSA certificate's chain: 2501
// stays only when the token's TSA certificate earns trust by the rule above,
// else it becomes 2507.
CheckedStatus ConfirmChain(uint32_t status, const ZORBELUBlob& token);

// The library's verdicts on the TSA certificate `der`, with the chain
// verdict made 2507 when the certificate does not earn trust by the rule
// above; returns why, or "" when the verdicts stand.
std::string ConfirmChainVerdict(const std::string& der, ZORBELUTSACertResult* verdicts);

}  // namespace zorbelu::cli
