// Display formatting: raw values of a token or of a time attribute
// certificate turned into the texts the property dialogs show. Names come
// from the current resource module, so that a language module supplies
// them. No state; the dialogs add their own leading space.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace zorbelu::dialogs {

// The readable name of a digest or signature algorithm identifier (dotted
// text, compared whole and case-sensitively); "Unknown object identifier"
// (string 5038) for any other text, the empty text for NULL.
void FormatAlgorithmName(const char* oid, std::string& out);

// Two uppercase hex digits per byte. A value longer than 64 bytes is cut
// into lines of 64 bytes, each followed by "\r\n" (the last one too when
// the count is a multiple of 64). A count of 0 or less gives "".
void FormatHexBlock(const uint8_t* bytes, int32_t count, std::string& out);

// Two uppercase hex digits per byte, no separators; "" for a count <= 0.
std::string FormatHex(const uint8_t* bytes, int32_t count);

// The 64-bit value of two words (high word first) in uppercase hex without
// leading zeros, with one "0" put in front of an odd number of digits.
std::string FormatSerial64(const uint32_t words[2]);

// A text field of a fixed-size record, never read past its array, NUL or
// not.
template <size_t N>
std::string RecordText(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// String ids of the names.
inline constexpr uint32_t kStringUnknownOid = 5038;

}  // namespace zorbelu::dialogs
