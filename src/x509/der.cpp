#include "x509/der.h"

namespace zorbel::der {

namespace {

// Lengths are limited to four octets: nothing we read is near 4 GiB, and the
// span check refuses any length beyond the bytes at hand.
constexpr size_t kMaxLengthOctets = 4;

}  // namespace

bool ReadDeclaredLength(const uint8_t*& p, const uint8_t* end, size_t& length, LengthRule rule) {
    if (p == end) return false;
    const uint8_t first = *p++;
    if (first < 0x80) {
        length = first;
    } else {
        const size_t count = first & 0x7F;
        if (count == 0 || count > kMaxLengthOctets || static_cast<size_t>(end - p) < count) return false;
        // DER: no leading zero octet, and no long form for what the short one holds.
        if (rule == LengthRule::kDer && *p == 0) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | *p++;
        if (rule == LengthRule::kDer && length < 0x80) return false;
    }
    return true;
}

bool ReadLength(const uint8_t*& p, const uint8_t* end, size_t& length, LengthRule rule) {
    return ReadDeclaredLength(p, end, length, rule) && length <= static_cast<size_t>(end - p);
}

bool Reader::Next(Tlv& out) {
    const uint8_t* p = rest_.data;
    const uint8_t* end = rest_.data + rest_.size;
    if (p == end) return false;
    const uint8_t identifier = *p++;
    if ((identifier & 0x1F) == 0x1F) return false;  // high tag numbers never occur in what we read
    size_t length = 0;
    if (!ReadLength(p, end, length, LengthRule::kDer)) return false;
    out.identifier = identifier;
    out.contents = {p, length};
    out.whole = {rest_.data, static_cast<size_t>(p - rest_.data) + length};
    rest_ = {p + length, static_cast<size_t>(end - p) - length};
    return true;
}

bool Reader::Expect(uint8_t identifier, Tlv& out) { return Next(out) && out.identifier == identifier; }

bool Reader::NextIf(uint8_t identifier, Tlv& out) {
    if (AtEnd() || rest_.data[0] != identifier) return false;
    return Next(out);
}

bool IsWellFormedOid(const Span& oid) {
    if (oid.size == 0 || (oid.data[oid.size - 1] & 0x80) != 0) return false;
    for (size_t i = 0; i < oid.size; ++i)
        if (oid.data[i] == 0x80 && (i == 0 || (oid.data[i - 1] & 0x80) == 0)) return false;
    return true;
}

bool ReadUint32(const Tlv& integer, uint32_t& value) {
    const Span c = integer.contents;
    if (!integer.Is(kInteger) || c.size == 0 || c.size > 5) return false;
    if (c.size == 5 && c.data[0] != 0) return false;
    value = 0;
    for (size_t i = 0; i < c.size; ++i) value = (value << 8) | c.data[i];
    return true;
}

bool ReadInt32(const Tlv& integer, int32_t& value) {
    const Span c = integer.contents;
    if (!integer.Is(kInteger) || c.size == 0 || c.size > 4) return false;
    uint32_t bits = (c.data[0] & 0x80) ? 0xFFFFFFFFu : 0u;
    for (size_t i = 0; i < c.size; ++i) bits = (bits << 8) | c.data[i];
    value = static_cast<int32_t>(bits);
    return true;
}

void AppendHeader(std::vector<uint8_t>& out, uint8_t identifier, size_t length) {
    out.push_back(identifier);
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t octets[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) octets[count++] = static_cast<uint8_t>(rest & 0xFF);
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count != 0) out.push_back(octets[--count]);
}

}  // namespace zorbel::der
