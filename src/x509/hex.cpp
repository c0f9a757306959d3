#include "x509/hex.h"

namespace zorbelu::x509 {

std::string HexText(const uint8_t* data, size_t size, HexCase letters, char separator) {
    const char* digits = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(size * (separator != '\0' ? 3 : 2));
    for (size_t i = 0; i < size; ++i) {
        if (i > 0 && separator != '\0') text += separator;
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

}  // namespace zorbelu::x509
