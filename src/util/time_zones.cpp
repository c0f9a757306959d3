#include "util/time_zones.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/module_state.h"

namespace zorbelu::util {
namespace {

// The named zones, searched from the top; the last row ends the table.
// Zone number 1 is not here: it selects a fixed offset.
constexpr ZORBELUTimeZoneInfo kZoneTable[] = {
    {2, "PST", 0, -480},  {3, "PDT", 0, -420},  {4, "MST", 0, -420},   {5, "MDT", 0, -360},
    {6, "CST", 0, -360},  {7, "CDT", 0, -300},  {8, "EST", 0, -300},   {9, "EDT", 0, -240},
    {10, "UTC", 0, 0},    {11, "GMT", 0, 0},    {12, "WET", 0, 0},     {13, "BST", 0, 60},
    {14, "IST", 0, 60},   {15, "WEST", 0, 60},  {16, "CET", 0, 60},    {17, "MEZ", 0, 60},
    {18, "CEST", 0, 120}, {19, "MESZ", 0, 120}, {20, "EET", 0, 120},   {21, "EEST", 0, 180},
    {22, "JST", 0, 540},  {23, "KST", 0, 540},  {0, "", 0, -1},
};

bool IsTerminator(const ZORBELUTimeZoneInfo& row) { return row.zoneId == 0 && row.biasMinutes == -1; }

}  // namespace

uint32_t LookUpTimeZone(uint32_t zoneId, ZORBELUTimeZoneInfo* out) {
    if (out == nullptr) return ZORBELU_ERR_PARAM;
    std::memset(out, 0, sizeof *out);
    for (const ZORBELUTimeZoneInfo& row : kZoneTable) {
        if (IsTerminator(row)) break;
        if (row.zoneId != zoneId) continue;
        out->zoneId = zoneId;
        std::strncpy(out->abbreviation, row.abbreviation, sizeof out->abbreviation);
        out->biasMinutes = row.biasMinutes;
        return ZORBELU_OK;
    }
    return ZORBELU_ERR_TIME_ZONE;
}

TPTimeZoneInfo::TPTimeZoneInfo(const ZORBELUTimeZoneSelector* selector) {
    if (selector == nullptr) return;
    zoneId_ = selector->kind;
    if (selector->kind != ZORBELU_TIME_ZONE_FIXED_OFFSET) {
        ZORBELUTimeZoneInfo zone;
        if (LookUpTimeZone(selector->kind, &zone) == ZORBELU_OK) {
            offset_ = zone.biasMinutes;
            std::memcpy(zoneText_, zone.abbreviation, sizeof zone.abbreviation);
        }
        return;
    }
    offset_ = selector->offset;
    // At most ten characters and the NUL: longer offsets are cut.
    const long long magnitude = std::llabs(static_cast<long long>(offset_));
    char full[32] = "UTC";
    if (offset_ != 0)
        std::snprintf(full, sizeof full, "%c%02lld:%02lld", offset_ > 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    std::memcpy(zoneText_, full, std::min<size_t>(std::strlen(full), 10));
}

}  // namespace zorbelu::util

extern "C" ZORBELU_API uint32_t ZORBELUGetTimeZoneInfo(uint32_t zoneId, ZORBELUTimeZoneInfo* out) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION,
                                         [&] { return zorbelu::util::LookUpTimeZone(zoneId, out); });
}
