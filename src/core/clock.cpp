#include "core/clock.h"

#include <cerrno>
#include <cstdlib>

namespace zorbel {

time_t Now() {
    if (const char* fixed = std::getenv("ZORBELU_TEST_NOW"); fixed != nullptr && *fixed != '\0') {
        char* end = nullptr;
        errno = 0;
        const long long seconds = std::strtoll(fixed, &end, 10);
        if (errno == 0 && end != fixed && *end == '\0') return static_cast<time_t>(seconds);
    }
    return std::time(nullptr);
}

}  // namespace zorbel
