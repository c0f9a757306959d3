// Bytes as hexadecimal text, two digits a byte: digests in file names and
// indexes, serial numbers and imprints in messages, fingerprints in dialogs.
#ifndef ZORBELU_X509_HEX_H
#define ZORBELU_X509_HEX_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorbelu::x509 {

enum class HexCase { kLower, kUpper };

// `separator` goes between two bytes; none when it is '\0'.
std::string HexText(const uint8_t* data, size_t size, HexCase letters = HexCase::kLower, char separator = '\0');

}  // namespace zorbelu::x509

#endif
