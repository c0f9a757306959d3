// GeneralizedTime text to seconds since the epoch (UTC).
#pragma once

#include <openssl/asn1.h>

#include <cstdint>

namespace zorbelu::util {

// Seconds since 1970-01-01 00:00:00 UTC of a text "YYYYMMDDhhmmss[...]Z";
// anything between the seconds and the final "Z" (a fraction) is ignored.
// -1 for any other text, and for times before 1970 or after the year 3000.
int64_t GeneralizedTimeToTimeT(const char* text);

// A certificate or CRL time (UTCTime or GeneralizedTime) as seconds; -1 when
// it cannot be converted.
int64_t Asn1TimeToTimeT(const ASN1_TIME* time);

}  // namespace zorbelu::util
