// The verification engine with a caller-owned CRL buffer.
#pragma once

#include <cstdint>

#include "zorbelutil.h"

namespace zorbelu::verify {

// A verification status (2501 to 2509) or an error code.
[[nodiscard]] uint32_t VerifyWithCrlBuffer(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                           const ZORBELUDigestInfo* currentDigest, ZORBELUCRLBuffer* crlBuffer,
                                           uint32_t timeLimit, const ZORBELUProxyInfo* proxy);

}  // namespace zorbelu::verify
