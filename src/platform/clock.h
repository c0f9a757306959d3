// The one clock the library and the core library read (the stand-in of
// _time64): seconds since the epoch, UTC.
//
// Tests fix it so that expiry is tested without waiting. The fixed time
// lives in the environment (ZORBELU_TEST_NOW, Unix seconds), so that both
// libraries of the process read the same moment.
#pragma once

#include <cstdint>
#include <optional>

namespace zorbelu::platform {

int64_t Now();

// Makes Now() answer `seconds` until called with nothing.
void SetClockForTesting(std::optional<int64_t> seconds);

}  // namespace zorbelu::platform
