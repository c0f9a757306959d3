// The exported C functions run their work through Guarded(): no exception
// leaves the library; it becomes a result code instead.
#ifndef ZORBEL_CORE_BOUNDARY_H
#define ZORBEL_CORE_BOUNDARY_H

#include <cstdint>
#include <new>

#include "zorbel.h"

namespace zorbel {

template <typename Work>
uint32_t Guarded(Work&& work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return ZORBEL_ERR_MEMORY;
    } catch (...) {
        return ZORBEL_ERR_INTERNAL;
    }
}

// A caller's blob is usable when it points somewhere and is not empty.
inline bool IsUsableBlob(const ZORBELUBlob* blob) {
    return blob != nullptr && blob->data != nullptr && blob->length != 0;
}

// Writes `size` bytes into a caller's output record (capacity in, count
// out), or tells the size needed.
[[nodiscard]] uint32_t WriteOutput(ZORBELUCertBlob* out, const uint8_t* data, size_t size);

}  // namespace zorbel

#endif
