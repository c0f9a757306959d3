// ZORBELHashInitEx / UpdateEx / FinalEx: incremental digests over EVP.
#include <cstring>

#include "core/boundary.h"
#include "core/digest_algorithms.h"
#include "x509/ossl_ptr.h"
#include "core/text.h"

// The opaque handle of the interface.
struct ZORBELHashHandle {
    zorbel::MdCtxPtr context;
};

namespace zorbel {

namespace {

[[nodiscard]] uint32_t Start(ZORBELHashHandle** handle, uint32_t algorithm) {
    const EVP_MD* md = DigestForCode(algorithm);
    if (md == nullptr) return ZORBEL_ERR_PARAM;
    auto created = std::make_unique<ZORBELHashHandle>();
    created->context.reset(EVP_MD_CTX_new());
    if (!created->context || EVP_DigestInit_ex(created->context.get(), md, nullptr) != 1) return ZORBEL_ERR_MEMORY;
    *handle = created.release();
    return ZORBEL_OK;
}

[[nodiscard]] uint32_t Finish(ZORBELHashHandle* handle, ZORBELUDigestInfoEx* out) {
    std::unique_ptr<ZORBELHashHandle> owned(handle);  // freed on every way out
    if (out == nullptr) return ZORBEL_ERR_PARAM;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(owned->context.get(), digest, &length) != 1 || length > sizeof out->digest)
        return ZORBEL_ERR_INTERNAL;
    ZORBELUDigestInfoEx filled{};
    const EVP_MD* md = EVP_MD_CTX_get0_md(owned->context.get());
    CopyText(filled.algorithmOid, OidText(OBJ_nid2obj(EVP_MD_get_type(md))));
    std::memcpy(filled.digest, digest, length);
    filled.digestLength = length;
    *out = filled;
    return ZORBEL_OK;
}

}  // namespace

}  // namespace zorbel

extern "C" {

ZORBEL_API uint32_t ZORBELHashInitEx(ZORBELHashHandle** handle, uint32_t algorithm) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (handle == nullptr) return ZORBEL_ERR_PARAM;
        *handle = nullptr;
        return zorbel::Start(handle, algorithm);
    });
}

ZORBEL_API uint32_t ZORBELHashUpdateEx(ZORBELHashHandle* handle, const void* data, uint32_t length) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (handle == nullptr || (data == nullptr && length != 0)) return ZORBEL_ERR_PARAM;
        if (length == 0) return ZORBEL_OK;
        return EVP_DigestUpdate(handle->context.get(), data, length) == 1 ? ZORBEL_OK : ZORBEL_ERR_INTERNAL;
    });
}

ZORBEL_API uint32_t ZORBELHashFinalEx(ZORBELHashHandle* handle, ZORBELUDigestInfoEx* out) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (handle == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::Finish(handle, out);
    });
}

ZORBEL_API uint32_t ZORBELHashFreeEx(ZORBELHashHandle* handle) {
    if (handle == nullptr) return ZORBEL_ERR_PARAM;
    delete handle;
    return ZORBEL_OK;
}

}  // extern "C"
