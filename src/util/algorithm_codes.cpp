// Digest algorithm identifiers to the library's small numeric codes.
#include <cstring>

#include "frame/module_state.h"
#include "zorbelutil.h"

namespace {

struct AlgorithmCode {
    uint32_t code;
    const char* oid;
};

// The length of the identifier text must match too, so the table is the
// only source of both.
constexpr AlgorithmCode kAlgorithmCodes[] = {
    {ZORBELU_ALG_SHA1, "1.3.14.3.2.26"},
    {ZORBELU_ALG_MD5, "1.2.840.113549.2.5"},
    {ZORBELU_ALG_SHA256, "2.16.840.1.101.3.4.2.1"},
    {ZORBELU_ALG_SHA384, "2.16.840.1.101.3.4.2.2"},
    {ZORBELU_ALG_SHA512, "2.16.840.1.101.3.4.2.3"},
};

uint32_t CodeOfAlgorithm(const char* oid, int32_t length, uint32_t* code) {
    if (oid == nullptr || code == nullptr) return ZORBELU_ERR_WINDOW;
    for (const AlgorithmCode& entry : kAlgorithmCodes) {
        if (std::strcmp(oid, entry.oid) == 0 && length == static_cast<int32_t>(std::strlen(entry.oid))) {
            *code = entry.code;
            return ZORBELU_OK;
        }
    }
    return ZORBELU_ERR_PARAM;
}

}  // namespace

extern "C" ZORBELU_API uint32_t ZORBELUGetOIDValueToOID(const char* oid, int32_t length, uint32_t* code) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return CodeOfAlgorithm(oid, length, code); });
}
