// The known time-stamp services: their texts, and which service a policy
// identifier or a token belongs to.
#pragma once

#include <cstdint>

#include "zorbelutil.h"

namespace zorbelu::certs {

inline constexpr uint32_t kServiceCount = 5;

// The policy identifier of each service, fixed here and not read from the
// string table, so that a translated table cannot change which tokens a
// service claims.
extern const char* const kServicePolicyOids[kServiceCount];

[[nodiscard]] uint32_t GetServiceInfo(uint32_t serviceId, ZORBELUServiceInfo* info);
[[nodiscard]] uint32_t GetServiceId(const char* policyOid, int32_t length, uint32_t* serviceId);
[[nodiscard]] uint32_t GetServiceIdFromToken(const ZORBELUBlob* token, uint32_t* serviceId);

}  // namespace zorbelu::certs
