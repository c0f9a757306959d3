// The core's bounded DER reader over arbitrary bytes, walked into every
// constructed element down to a fixed depth; every INTEGER is also read as
// a 32-bit number. Each element must lie within its parent, and its header
// must re-encode to the same length. And BER to DER on the same bytes.
#include <cstdint>
#include <vector>

#include "core/ber_to_der.h"
#include "x509/der.h"

namespace {

using zorbel::der::Reader;
using zorbel::der::Span;
using zorbel::der::Tlv;

constexpr int kMaxDepth = 32;

bool Within(const Span& inner, const Span& outer) {
    return inner.data >= outer.data && inner.size <= outer.size &&
           static_cast<size_t>(inner.data - outer.data) <= outer.size - inner.size;
}

void Walk(Span span, int depth) {
    Reader reader(span);
    Tlv element;
    while (reader.Next(element)) {
        if (!Within(element.whole, span) || !Within(element.contents, element.whole)) __builtin_trap();
        if (element.contents.data + element.contents.size != element.whole.data + element.whole.size) __builtin_trap();
        std::vector<uint8_t> header;
        zorbel::der::AppendHeader(header, element.identifier, element.contents.size);
        if (header.size() + element.contents.size > element.whole.size) __builtin_trap();
        if (element.Is(zorbel::der::kInteger)) {
            uint32_t unsignedValue = 0;
            int32_t signedValue = 0;
            (void)zorbel::der::ReadUint32(element, unsignedValue);
            (void)zorbel::der::ReadInt32(element, signedValue);
        }
        if ((element.identifier & 0x20) != 0 && depth < kMaxDepth) Walk(element.contents, depth + 1);
    }
}

// BER to DER: what it accepts must come out as one well-formed DER element
// that converts to itself again.
void ConvertTwice(const uint8_t* data, size_t size) {
    std::vector<uint8_t> der, again;
    if (!zorbel::BerToDer(data, size, der)) return;
    Reader reader({der.data(), der.size()});
    Tlv element;
    if (!reader.Next(element) || !reader.AtEnd()) __builtin_trap();
    if (!zorbel::BerToDer(der.data(), der.size(), again) || again != der) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Walk({data, size}, 0);
    ConvertTwice(data, size);
    return 0;
}
