#include "util/generalized_time.h"
#include "x509/ossl_ptr.h"

#include <openssl/asn1.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <string>

#include "zorbelutil.h"

namespace zorbelu::util {
namespace {

// The conversion covers the years 1970 to 3000, as the 64-bit time
// functions of other systems do; outside it there is no time (-1), so that
// -1 never doubles as 1969-12-31 23:59:59.
constexpr int64_t kLastSecondOfYear3000 = 32535215999;

int Field(const char* digits, size_t count) {
    int value = 0;
    for (size_t i = 0; i < count; ++i) value = value * 10 + (digits[i] - '0');
    return value;
}

}  // namespace

int64_t GeneralizedTimeToTimeT(const char* text) {
    if (text == nullptr) return -1;
    const size_t length = std::strlen(text);
    if (length < 15 || text[length - 1] != 'Z') return -1;
    for (size_t i = 0; i < 14; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;

    // Fields out of range are normalised: month 13 is January of the next year.
    std::tm broken{};
    broken.tm_year = Field(text, 4) - 1900;
    broken.tm_mon = Field(text + 4, 2) - 1;
    broken.tm_mday = Field(text + 6, 2);
    broken.tm_hour = Field(text + 8, 2);
    broken.tm_min = Field(text + 10, 2);
    broken.tm_sec = Field(text + 12, 2);
    broken.tm_isdst = 0;
    const int64_t seconds = static_cast<int64_t>(timegm(&broken));
    if (seconds < 0 || seconds > kLastSecondOfYear3000) return -1;
    return seconds;
}

}  // namespace zorbelu::util

// Touches no library state, so it runs without the guard; it cannot throw.
extern "C" ZORBELU_API int64_t ZORBELUGeneralizedTimeToTimeT(const char* text) {
    return zorbelu::util::GeneralizedTimeToTimeT(text);
}

namespace zorbelu::util {

int64_t Asn1TimeToTimeT(const ASN1_TIME* time) {
    const Asn1GeneralizedTimePtr general(ASN1_TIME_to_generalizedtime(time, nullptr));
    if (!general) return -1;
    const std::string text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(general.get())),
                           static_cast<size_t>(ASN1_STRING_length(general.get())));
    return GeneralizedTimeToTimeT(text.c_str());
}

}  // namespace zorbelu::util
