// A small bounded DER reader: one tag-length-value at a time, definite
// lengths only, never reading past the span it was given; and the one
// reader of ASN.1 lengths, which the BER converter uses too. The core uses it
// where OpenSSL's decoders do not fit: unwrapping a response, finding
// attribute certificates in the certificate set, the ESS attributes and the
// time attribute certificate, whose INTEGERs OpenSSL refuses.
#ifndef ZORBELU_X509_DER_H
#define ZORBELU_X509_DER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zorbel::der {

// Identifier octets of the tags the core looks for.
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kEnumerated = 0x0A;
constexpr uint8_t kGeneralizedTime = 0x18;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t ContextConstructed(unsigned n) { return static_cast<uint8_t>(0xA0 | n); }
constexpr uint8_t ContextPrimitive(unsigned n) { return static_cast<uint8_t>(0x80 | n); }

// Which length forms are accepted: DER wants the shortest one; BER input may
// use more octets than needed (the BER converter rewrites them).
enum class LengthRule { kDer, kBer };

// Reads the definite length at `p` (moved past its octets): at most four
// length octets, and never more contents than the bytes left before `end`.
// The indefinite form (0x80) is refused; BER readers look for it first.
[[nodiscard]] bool ReadLength(const uint8_t*& p, const uint8_t* end, size_t& length, LengthRule rule);
// The same, without the last check: the length as declared, even when the
// contents would run past `end` (for telling how much a truncated object
// lacks).
[[nodiscard]] bool ReadDeclaredLength(const uint8_t*& p, const uint8_t* end, size_t& length, LengthRule rule);

struct Span {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The span holds exactly these bytes.
inline bool SameBytes(const Span& span, const uint8_t* bytes, size_t size) {
    return span.size == size && (size == 0 || std::memcmp(span.data, bytes, size) == 0);
}

// One element: `whole` covers identifier, length and contents.
struct Tlv {
    uint8_t identifier = 0;  // first identifier octet (tags >= 31 are never matched)
    Span contents;
    Span whole;
    bool Is(uint8_t id) const { return identifier == id; }
};

class Reader {
public:
    explicit Reader(Span span) : rest_(span) {}
    bool AtEnd() const { return rest_.size == 0; }
    // Reads the next element; false on a malformed or truncated one.
    [[nodiscard]] bool Next(Tlv& out);
    // Reads the next element and requires its identifier.
    [[nodiscard]] bool Expect(uint8_t identifier, Tlv& out);
    // Reads the next element only when it carries `identifier`.
    [[nodiscard]] bool NextIf(uint8_t identifier, Tlv& out);

private:
    Span rest_;
};

// The elements inside a constructed element.
inline Reader Inside(const Tlv& tlv) { return Reader(tlv.contents); }

// INTEGER contents read leniently as an unsigned 32-bit value: 1 to 4
// bytes, or 5 with a leading zero. Fixed-width, non-minimal encodings are
// accepted on purpose; the time attribute certificate carries them.
[[nodiscard]] bool ReadUint32(const Tlv& integer, uint32_t& value);
// The same, sign-extended from the first content byte.
[[nodiscard]] bool ReadInt32(const Tlv& integer, int32_t& value);

// OBJECT IDENTIFIER contents as OpenSSL's decoder takes them: some octets,
// the last one ending a subidentifier, and no subidentifier starting with
// a padding octet 0x80.
[[nodiscard]] bool IsWellFormedOid(const Span& oid);

// Appends identifier and the minimal definite length for `length` bytes.
void AppendHeader(std::vector<uint8_t>& out, uint8_t identifier, size_t length);

}  // namespace zorbel::der

#endif
