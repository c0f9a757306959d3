#include "core/clock.h"

#include "platform/clock.h"

namespace zorbel {

time_t Now() { return static_cast<time_t>(zorbelu::platform::Now()); }

}  // namespace zorbel
