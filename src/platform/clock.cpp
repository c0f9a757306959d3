#include "platform/clock.h"

#include <ctime>

namespace zorbelu::platform {
namespace {
std::optional<int64_t> fixedNow;
}  // namespace

int64_t Now() { return fixedNow ? *fixedNow : static_cast<int64_t>(std::time(nullptr)); }

void SetClockForTesting(std::optional<int64_t> seconds) { fixedNow = seconds; }

}  // namespace zorbelu::platform
