// The core's bounded DER reader over arbitrary bytes, walked into every
// constructed element down to a fixed depth; every INTEGER is also read as
// a 32-bit number. Each element must lie within its parent, and its header
// must re-encode to the same length.
#include <cstdint>
#include <vector>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Walk({data, size}, 0);
    return 0;
}
