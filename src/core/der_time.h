// The one check of time texts read from hostile input (a token's genTime, a
// TAC's validity, a CRL's nextUpdate) against the DER rules:
//   GeneralizedTime  YYYYMMDDHHMMSS[.f...]Z  (digits only; a fraction, when
//                    present, is not empty and ends in a non-zero digit)
//   UTCTime          YYMMDDHHMMSSZ
// both in UTC ("Z"), with month, day (for that month and year), hour, minute
// and second in range. Anything else is refused, so that a text the library
// shows, converts or compares is always plain ASCII in one canonical form.
// Header-only: the core and the verification library both use it.
#ifndef ZORBEL_CORE_DER_TIME_H
#define ZORBEL_CORE_DER_TIME_H

#include <cstddef>
#include <string_view>

namespace zorbel {

enum class DerTimeType { kUtcTime, kGeneralizedTime };

namespace der_time_detail {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr int Number(std::string_view digits) {
    int value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    return value;
}

constexpr int DaysInMonth(int year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// MMDDHHMMSS of a time whose year is `year`.
constexpr bool ValidFields(int year, std::string_view fields) {
    for (const char c : fields)
        if (!IsDigit(c)) return false;
    const int month = Number(fields.substr(0, 2));
    if (month < 1 || month > 12) return false;
    const int day = Number(fields.substr(2, 2));
    return day >= 1 && day <= DaysInMonth(year, month) && Number(fields.substr(4, 2)) <= 23 &&
           Number(fields.substr(6, 2)) <= 59 && Number(fields.substr(8, 2)) <= 59;
}

// "" or ".d...d" with at least one digit and no trailing zero.
constexpr bool ValidFraction(std::string_view fraction) {
    if (fraction.empty()) return true;
    if (fraction.size() < 2 || fraction[0] != '.' || fraction.back() == '0') return false;
    for (const char c : fraction.substr(1))
        if (!IsDigit(c)) return false;
    return true;
}

}  // namespace der_time_detail

constexpr bool IsDerTime(std::string_view text, DerTimeType type) {
    using namespace der_time_detail;
    if (type == DerTimeType::kUtcTime) {
        if (text.size() != 13 || text.back() != 'Z' || !IsDigit(text[0]) || !IsDigit(text[1])) return false;
        const int year = Number(text.substr(0, 2));
        return ValidFields(year < 50 ? 2000 + year : 1900 + year, text.substr(2, 10));
    }
    if (text.size() < 15 || text.back() != 'Z') return false;
    for (const char c : text.substr(0, 4))
        if (!IsDigit(c)) return false;
    return ValidFields(Number(text.substr(0, 4)), text.substr(4, 10)) &&
           ValidFraction(text.substr(14, text.size() - 15));
}

}  // namespace zorbel

#endif
