// Arbitrary bytes as a time attribute certificate, through the three calls that read one.
#include <cstdint>

#include "zorbel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const ZORBELUBlob tac{data, static_cast<uint32_t>(size)};
    ZORBELTACCertInfo info{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
    (void)ZORBELGetTACCertInfo(&tac, &info);
    (void)ZORBELGetTACTimingMetrics(&tac, &metrics);
    (void)ZORBELGetTACTimingPolicy(&tac, &policy);
    return 0;
}
