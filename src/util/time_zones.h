// Time zones of the dialogs: the fixed table of named zones, and the zone
// text and offset of a caller's selector.
#pragma once

#include <cstdint>

#include "zorbelutil.h"

namespace zorbelu::util {

// Looks a zone number up in the table: 1; 1001 for a NULL record; 2650 for
// a number the table does not hold (0, 1 and above 23).
[[nodiscard]] uint32_t LookUpTimeZone(uint32_t zoneId, ZORBELUTimeZoneInfo* out);

// A selector turned into what a dialog prints: the minutes to add to UTC
// and the short zone text ("JST", "+05:30", "UTC").
class TPTimeZoneInfo {
public:
    explicit TPTimeZoneInfo(const ZORBELUTimeZoneSelector* selector);
    virtual ~TPTimeZoneInfo() = default;

    uint32_t zoneId() const { return zoneId_; }
    const char* zoneText() const { return zoneText_; }
    int32_t offsetMinutes() const { return offset_; }

private:
    uint32_t zoneId_ = 0;
    char zoneText_[12] = {};
    int32_t offset_ = 0;
};

}  // namespace zorbelu::util
