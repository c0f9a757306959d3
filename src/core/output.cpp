#include <cstring>

#include "core/boundary.h"

namespace zorbel {

uint32_t WriteOutput(ZORBELUCertBlob* out, const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return ZORBEL_ERR_INTERNAL;
    const uint32_t needed = static_cast<uint32_t>(size);
    out->encoding = ZORBELU_ENCODING_DER;
    if (out->data == nullptr || out->length < needed) {
        out->length = needed;
        return ZORBEL_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(out->data, data, size);
    out->length = needed;
    return ZORBEL_OK;
}

}  // namespace zorbel
