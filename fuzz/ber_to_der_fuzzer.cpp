// BER to DER on arbitrary bytes. What it accepts must come out as one
// well-formed DER element that converts to itself again.
#include <cstdint>
#include <vector>

#include "core/ber_to_der.h"
#include "x509/der.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> der;
    if (!zorbel::BerToDer(data, size, der)) return 0;
    zorbel::der::Reader reader({der.data(), der.size()});
    zorbel::der::Tlv element;
    if (!reader.Next(element) || !reader.AtEnd()) __builtin_trap();
    std::vector<uint8_t> again;
    if (!zorbel::BerToDer(der.data(), der.size(), again) || again != der) __builtin_trap();
    return 0;
}
