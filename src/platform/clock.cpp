#include "platform/clock.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

namespace zorbelu::platform {
namespace {
constexpr const char kFixedTimeVariable[] = "ZORBELU_TEST_NOW";
}  // namespace

int64_t Now() {
    if (const char* fixed = std::getenv(kFixedTimeVariable); fixed != nullptr && *fixed != '\0') {
        char* end = nullptr;
        errno = 0;
        const long long seconds = std::strtoll(fixed, &end, 10);
        if (errno == 0 && end != fixed && *end == '\0') return seconds;
    }
    return static_cast<int64_t>(std::time(nullptr));
}

void SetClockForTesting(std::optional<int64_t> seconds) {
    if (seconds)
        setenv(kFixedTimeVariable, std::to_string(*seconds).c_str(), 1);
    else
        unsetenv(kFixedTimeVariable);
}

}  // namespace zorbelu::platform
