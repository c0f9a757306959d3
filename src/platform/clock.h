// The one clock the library reads (the stand-in of _time64): seconds since
// the epoch, UTC. Tests set it so that expiry is tested without waiting.
#pragma once

#include <cstdint>
#include <optional>

namespace zorbelu::platform {

int64_t Now();

// Makes Now() answer `seconds` until called with nothing.
void SetClockForTesting(std::optional<int64_t> seconds);

}  // namespace zorbelu::platform
