// Verification of the TSA certificate's whole path, and by policy.
#pragma once

#include <cstdint>

#include "zorbelutil.h"

namespace zorbelu::verify {

// What the by-policy verification does.
inline constexpr uint32_t kPolicyChainAndCrls = 1;   // chain walk, a CRL for every certificate
inline constexpr uint32_t kPolicyChainOnly = 2;      // chain walk, no CRLs, no downloads
inline constexpr uint32_t kPolicyIntegrityOnly = 3;  // the core library alone, without a store
inline constexpr uint32_t kPolicyNothing = 4;        // nothing: 2501 at once

[[nodiscard]] uint32_t VerifyTimeStampTokenFull(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                const ZORBELUDigestInfo* currentDigest,
                                                ZORBELUCRLCacheStore* crlCache, uint32_t timeLimit,
                                                const ZORBELUProxyInfo* proxy);

[[nodiscard]] uint32_t VerifyTimeStampTokenByPolicy(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                    const ZORBELUDigestInfoEx* currentDigest,
                                                    ZORBELUCRLCacheStore* crlCache, uint32_t timeLimit,
                                                    const ZORBELUProxyInfo* proxy, uint32_t policy);

}  // namespace zorbelu::verify
