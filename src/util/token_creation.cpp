// Token creation through the core library: the caller's digest record is
// widened into the core's request record (no policy of its own, the TSA
// certificate and a nonce asked for); everything else passes through.
#include <cstring>

#include "frame/module_state.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace {

ZORBELTimeStampRequest RequestFor(const ZORBELUDigestInfoEx& digest) {
    ZORBELTimeStampRequest request;
    std::memset(&request, 0, sizeof request);
    request.digest = digest;
    request.certReq = 1;
    request.nonce = 1;
    return request;
}

}  // namespace

extern "C" {

ZORBELU_API uint32_t ZORBELUCreateTimeStampToken(uintptr_t value1, uintptr_t value2,
                                                 const ZORBELUDigestInfoEx* digest, uintptr_t value3) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (digest == nullptr) return ZORBELU_ERR_PARAM;
        const ZORBELTimeStampRequest request = RequestFor(*digest);
        return ZORBELCreateTimeStampTokenEx(value1, value2, &request, value3);
    });
}

ZORBELU_API uint32_t ZORBELUHTTP3161CreateTimeStampToken(uintptr_t value1, const ZORBELUDigestInfoEx* digest,
                                                         uintptr_t value2) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION, [&] {
        if (digest == nullptr) return ZORBELU_ERR_PARAM;
        const ZORBELTimeStampRequest request = RequestFor(*digest);
        return ZORBELHTTP3161CreateTimeStampToken(value1, &request, value2);
    });
}

}  // extern "C"
