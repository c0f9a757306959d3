// The bounded DER reader: elements stay inside their bytes; DER lengths are minimal, BER ones may be longer.
#include <gtest/gtest.h>

#include <vector>

#include "x509/der.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An OCTET STRING of 128 bytes: the shortest that needs a long-form length.
Bytes LongFormElement() {
    Bytes bytes{0x04, 0x81, 0x80};
    bytes.resize(3 + 0x80, 0x11);
    return bytes;
}

TEST(core_DerReader, ElementsStayInsideTheirBytes) {
    const struct {
        const char* why;
        Bytes bytes;
        bool readable;
        size_t contents;  // when readable
        bool berLength;   // the length octets after the first byte, read by the BER rule
    } cases[] = {
        {"short form", {0x04, 0x02, 0xAA, 0xBB}, true, 2, true},
        {"long form, one length octet", LongFormElement(), true, 0x80, true},
        {"long form for a short length", {0x04, 0x81, 0x02, 0xAA, 0xBB}, false, 0, true},
        {"length with a leading zero octet", {0x04, 0x82, 0x00, 0x02, 0xAA, 0xBB}, false, 0, true},
        {"length one past the end", {0x04, 0x03, 0xAA, 0xBB}, false, 0, false},
        {"long-form length past the end", {0x30, 0x82, 0x01, 0x00, 0x02, 0x01, 0x00}, false, 0, false},
        {"length octets missing", {0x30, 0x82, 0x01}, false, 0, false},
        {"indefinite length", {0x30, 0x80, 0x00, 0x00}, false, 0, false},
        {"five length octets", {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAA}, false, 0, false},
        {"high tag number", {0x1F, 0x81, 0x01, 0x00}, false, 0, true},
        {"no length at all", {0x04}, false, 0, false},
    };
    for (const auto& c : cases) {
        const uint8_t* p = c.bytes.data() + 1;
        size_t length = 0;
        EXPECT_EQ(zorbel::der::ReadLength(p, c.bytes.data() + c.bytes.size(), length, zorbel::der::LengthRule::kBer),
                  c.berLength)
            << c.why;
        zorbel::der::Reader reader({c.bytes.data(), c.bytes.size()});
        zorbel::der::Tlv tlv;
        ASSERT_EQ(reader.Next(tlv), c.readable) << c.why;
        if (!c.readable) continue;
        EXPECT_EQ(tlv.contents.size, c.contents) << c.why;
        EXPECT_EQ(tlv.whole.data + tlv.whole.size, c.bytes.data() + c.bytes.size()) << c.why;
        EXPECT_TRUE(reader.AtEnd()) << c.why;
    }
}

}  // namespace
