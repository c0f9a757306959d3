// ZORBELGetUser: the user name of the configured connection credentials.
#include "core/boundary.h"
#include "zorbelcomm.h"

namespace {

// The caller's buffer, as the interface fixes it.
constexpr uint32_t kUserBufferSize = 520;

}  // namespace

extern "C" ZORBEL_API uint32_t ZORBELGetUser(char* buffer) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (buffer == nullptr) return ZORBEL_ERR_PARAM;
        return ZORBELPRVGetCredentialUser(buffer, kUserBufferSize);
    });
}
