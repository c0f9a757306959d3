#include "platform/time_zone.h"

#include <ctime>

namespace zorbelu::platform {

int32_t LocalUtcOffsetMinutes(int64_t at) {
    tzset();
    const auto moment = static_cast<time_t>(at);
    std::tm local{};
    if (localtime_r(&moment, &local) == nullptr) return 0;
    return static_cast<int32_t>(local.tm_gmtoff / 60);
}

}  // namespace zorbelu::platform
