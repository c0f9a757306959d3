#include "core/ber_to_der.h"

#include "x509/der.h"

namespace zorbel {

namespace {

constexpr uint8_t kConstructedBit = 0x20;
constexpr size_t kIndefinite = static_cast<size_t>(-1);

// Universal string types that BER may send constructed, in pieces.
bool IsUniversalString(uint8_t identifier) {
    if ((identifier & 0xC0) != 0) return false;
    switch (identifier & 0x1F) {
        case 3: case 4: case 12: case 18: case 19: case 20: case 21: case 22:
        case 23: case 24: case 25: case 26: case 27: case 28: case 30:
            return true;
        default:
            return false;
    }
}

// Tells whether an element is DER already, as the converter would write it:
// definite lengths in their shortest form, no string sent in pieces, nothing
// the converter refuses. Most tokens are; copying them costs a fraction of
// converting them.
class DerCheck {
public:
    DerCheck(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    // Checks one element at the current position and moves past it.
    [[nodiscard]] bool Element(size_t depth) {
        if (depth > kMaxBerDepth || p_ == end_) return false;
        const uint8_t identifier = *p_++;
        size_t length = 0;
        if ((identifier & 0x1F) == 0x1F || !der::ReadLength(p_, end_, length, der::LengthRule::kDer)) return false;
        if ((identifier & kConstructedBit) == 0) {
            if (identifier == 0 && length == 0) return false;  // a stray end-of-contents
            p_ += length;
            return true;
        }
        if (IsUniversalString(identifier)) return false;
        const uint8_t* stop = p_ + length;
        const uint8_t* savedEnd = end_;
        end_ = stop;
        bool ok = true;
        while (ok && p_ < stop) ok = Element(depth + 1);
        end_ = savedEnd;
        return ok && p_ == stop;
    }

    const uint8_t* Position() const { return p_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

class Converter {
public:
    Converter(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    // Converts one element at the current position into `out`.
    [[nodiscard]] bool Element(std::vector<uint8_t>& out, size_t depth) {
        if (depth > kMaxBerDepth) return false;
        uint8_t identifier = 0;
        size_t length = 0;
        if (!Header(identifier, length)) return false;
        if ((identifier & kConstructedBit) == 0) return Primitive(identifier, length, out);
        std::vector<uint8_t> children;
        if (!Children(length, children, depth)) return false;
        if (IsUniversalString(identifier)) return Flatten(identifier, children, out);
        der::AppendHeader(out, identifier, children.size());
        out.insert(out.end(), children.begin(), children.end());
        return true;
    }

    bool AtEndOfContents() const { return end_ - p_ >= 2 && p_[0] == 0 && p_[1] == 0; }

private:
    [[nodiscard]] bool Header(uint8_t& identifier, size_t& length) {
        if (p_ == end_) return false;
        identifier = *p_++;
        if ((identifier & 0x1F) == 0x1F) return false;  // high tag numbers: not in time-stamp tokens
        if (p_ == end_) return false;
        if (*p_ == 0x80) {
            if ((identifier & kConstructedBit) == 0) return false;
            ++p_;
            length = kIndefinite;
            return true;
        }
        return der::ReadLength(p_, end_, length, der::LengthRule::kBer);  // never past the bytes at hand
    }

    [[nodiscard]] bool Primitive(uint8_t identifier, size_t length, std::vector<uint8_t>& out) {
        if (identifier == 0 && length == 0) return false;  // a stray end-of-contents
        der::AppendHeader(out, identifier, length);
        out.insert(out.end(), p_, p_ + length);
        p_ += length;
        return true;
    }

    [[nodiscard]] bool Children(size_t length, std::vector<uint8_t>& children, size_t depth) {
        if (length == kIndefinite) {
            while (!AtEndOfContents())
                if (!Element(children, depth + 1)) return false;
            p_ += 2;
            return true;
        }
        const uint8_t* stop = p_ + length;
        const uint8_t* savedEnd = end_;
        end_ = stop;  // children may not run past their parent
        bool ok = true;
        while (ok && p_ < stop) ok = Element(children, depth + 1);
        end_ = savedEnd;
        return ok && p_ == stop;
    }

    // Joins the converted pieces (each now primitive, of the same type) into
    // one primitive string. BIT STRING pieces each lead with an unused-bits
    // octet; only the last piece may have unused bits.
    [[nodiscard]] static bool Flatten(uint8_t identifier, const std::vector<uint8_t>& children,
                                      std::vector<uint8_t>& out) {
        const uint8_t primitive = static_cast<uint8_t>(identifier & ~kConstructedBit);
        const bool bits = primitive == der::kBitString;
        std::vector<uint8_t> joined;
        uint8_t unusedBits = 0;
        der::Reader pieces({children.data(), children.size()});
        while (!pieces.AtEnd()) {
            der::Tlv piece;
            if (!pieces.Expect(primitive, piece)) return false;
            const uint8_t* c = piece.contents.data;
            size_t n = piece.contents.size;
            if (bits) {
                if (n == 0 || unusedBits != 0) return false;
                unusedBits = c[0];
                ++c;
                --n;
            }
            joined.insert(joined.end(), c, c + n);
        }
        der::AppendHeader(out, primitive, joined.size() + (bits ? 1 : 0));
        if (bits) out.push_back(unusedBits);
        out.insert(out.end(), joined.begin(), joined.end());
        return true;
    }

    const uint8_t* p_;
    const uint8_t* end_;
};

}  // namespace

bool BerToDer(const uint8_t* data, size_t size, std::vector<uint8_t>& der) {
    der.clear();
    if (data == nullptr || size == 0 || size > kMaxBerInput) return false;
    DerCheck check(data, size);
    if (check.Element(0)) {
        der.assign(data, check.Position());
        return true;
    }
    Converter converter(data, size);
    return converter.Element(der, 0);
}

}  // namespace zorbel
