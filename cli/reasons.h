// Why a verification ended as it did, in one line: the reason from the
// layer that decided (the token's integrity through the core library, the
// gathering of the chain and CRLs, the chain checked by the core library
// with what was gathered), as far as the libraries' answers reveal.
#pragma once

#include <cstdint>
#include <string>

#include "zorbelutil.h"

namespace zorbelu::cli {

// Why `status` (a verification's answer, not 2501) came, for the token
// `token` and the data's `digest`; `timeout`, `proxy` for the downloads a
// chain reason needs. "" when nothing more can be said.
std::string VerificationReason(uint32_t status, const ZORBELUBlob& token, const ZORBELUDigestInfoEx& digest,
                               uint32_t timeout, const ZORBELUProxyInfo* proxy);

// Why bytes the core library cannot read are not a token: a TSA's
// refusal (its status and texts), a truncated file, or something else.
std::string UnreadableTokenReason(const ZORBELUBlob& token);

// Why gathering a token's certificates answered `result` (not 1).
std::string GatheringReason(uint32_t result, const ZORBELUBlob& token);

// Why the verdicts on the TSA certificate `der` are not all good; "" when
// they are.
std::string VerdictReason(const std::string& der, const ZORBELUTSACertResult& verdicts);

// --verbose: notes which TSA certificate the token names and the URLs its
// CRL and issuer are fetched from.
void NoteDownloads(const ZORBELUBlob& token);

// The nonce of the token's TSTInfo as hex, "" when it has none.
std::string TokenNonce(const ZORBELUBlob& token);

}  // namespace zorbelu::cli
