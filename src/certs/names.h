// Comparing distinguished names, and reading a certificate's names.
#pragma once

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zorbelu::certs {

// Names whose simple text is remembered, and the bytes they may take.
inline constexpr size_t kMaxRememberedNames = 4096;
inline constexpr size_t kMaxRememberedNameBytes = 1u << 20;

// The simple text of a DER name (x509/names.h); nothing when the
// bytes are not one whole name. Remembered by the name's bytes.
std::optional<std::string> NameText(const uint8_t* der, size_t length);

// True when both DER names read the same as simple text. Names are never
// compared byte for byte: the same name may be encoded with other string
// types. Bytes that are not a name never equal anything.
bool NamesEqual(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength);

}  // namespace zorbelu::certs
