// Checking the caller's request record and turning it into an RFC 3161
// TimeStampReq, for both the local and the HTTP creation.
#ifndef ZORBEL_CORE_TIMESTAMP_REQUEST_H
#define ZORBEL_CORE_TIMESTAMP_REQUEST_H

#include <cstdint>

#include "x509/ossl_ptr.h"
#include "zorbel.h"

namespace zorbel {

// A request record is usable when its texts end within their fields, the
// algorithm is one the interface offers with its digest length, and the
// two flags are 0 or 1.
[[nodiscard]] bool IsUsableRequest(const ZORBELTimeStampRequest* request);

// Builds the TimeStampReq; `nonce` receives the nonce sent (NULL when none).
[[nodiscard]] uint32_t BuildRequest(const ZORBELTimeStampRequest& request, TsReqPtr& out, Asn1IntPtr& nonce);

// True when the TSTInfo carries the imprint of the request.
[[nodiscard]] bool ImprintMatches(TS_TST_INFO* tstInfo, const ZORBELTimeStampRequest& request);

// A positive random 63-bit INTEGER (nonces and serials).
Asn1IntPtr RandomPositiveInteger();

}  // namespace zorbel

#endif
