// What the signature properties dialogs say about a verification: the
// status message and picture of each status, the lines of the three
// certificate checks and the summary made of them, the picture of the
// tabbed dialog, the service behind a policy, and the time-stamping time in
// a chosen zone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zorbelutil.h"

namespace zorbelu::dialogs {

// The four status pictures, as control ids (their bitmaps: 1006, 1003,
// 1004, 1005).
inline constexpr int kPictureQuestion = 1047;
inline constexpr int kPictureCheck = 1048;
inline constexpr int kPictureCross = 1049;
inline constexpr int kPictureWarning = 1050;
inline constexpr int kStatusPictures[] = {kPictureCheck, kPictureCross, kPictureWarning, kPictureQuestion};

struct StatusText {
    uint32_t stringId;  // 0: no row
    int picture;
};

// The message and picture of the plain dialog for a status 2500 to 2512;
// any other status has no message and the cross.
StatusText PlainStatusText(uint32_t status);

// The string ids of the lines of the tabbed dialog's details page; 0 when
// the code gives no line.
uint32_t IntegrityLineId(uint32_t status);
uint32_t ValidityLineId(uint32_t validityResult);
uint32_t RevocationLineId(uint32_t revocationResult);
uint32_t RootLineId(uint32_t rootResult);

struct CheckResults {
    uint32_t status;
    uint32_t validity;
    uint32_t revocation;
    uint32_t root;
};

// The integrity line followed by the line of each failed check.
std::string SummaryText(const std::string& integrity, const CheckResults& results, const std::string& validity,
                        const std::string& revocation, const std::string& root);

// The picture of the tabbed dialog's status page.
int TabbedStatusPicture(const CheckResults& results);

// The string id of the service name for a policy identifier (exact,
// case-sensitive comparison; 5025 "Unknown" for any other).
uint32_t ServiceNameId(std::string_view policyOid);

// The generation time of a token information record as the dialogs accept
// it: fourteen digits, an optional fraction of digits, then Z.
bool IsAcceptedGenerationTime(std::string_view genTime);

// The time-stamping time in the zone of `zone`: " 2021/01/01 00:00:00.120
// +09:00", " Unknown" (string 5011) for a time not accepted or no zone.
// Throws std::invalid_argument when the time cannot be broken down.
std::string TimeStampingTimeText(std::string_view genTime, const ZORBELUTimeZoneSelector* zone);

// The computer's own zone as a fixed offset (the C library's view, TZ
// honoured); offset 0 when it cannot tell.
ZORBELUTimeZoneSelector LocalZoneSelector();

// A number of the string table read as base 10: 0 for a text that does not
// convert or is out of range.
long StringTableNumber(uint32_t stringId);

}  // namespace zorbelu::dialogs
