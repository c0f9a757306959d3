// Reading a token once for the calls of zorbel_private.h.
#include <memory>

#include "core/boundary.h"
#include "core/token_handle.h"

extern "C" {

ZORBEL_API uint32_t ZORBELPRVReadToken(const ZORBELUBlob* token, ZORBELPRVToken** out) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (out == nullptr) return ZORBEL_ERR_PARAM;
        *out = nullptr;
        auto read = std::make_unique<ZORBELPRVToken>();
        if (const uint32_t rc = zorbel::ReadToken(token, read->token); rc != ZORBEL_OK) return rc;
        *out = read.release();
        return ZORBEL_OK;
    });
}

ZORBEL_API void ZORBELPRVFreeToken(ZORBELPRVToken* token) { delete token; }

}  // extern "C"
