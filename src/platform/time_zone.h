// The local time zone (the stand-in of GetTimeZoneInformation): the C
// library's localtime_r and tm_gmtoff, TZ honoured.
#pragma once

#include <cstdint>

namespace zorbelu::platform {

// Minutes to add to UTC for local time at `at` (seconds since the epoch);
// 0 when the local time cannot be had.
int32_t LocalUtcOffsetMinutes(int64_t at);

}  // namespace zorbelu::platform
