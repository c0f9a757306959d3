// Display formatting: the edge values of each routine, and names from the
// current resource module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/token/display_format.h"
#include "frame/module_state.h"
#include "platform/module.h"

namespace {

using namespace zorbelu;

std::vector<uint8_t> Counting(int n) {
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return bytes;
}

std::string HexOf(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    return dialogs::FormatHex(bytes.data() + from, static_cast<int32_t>(to - from));
}

TEST(FormatAlgorithmName, NamesOfTheTableAndUnknownOtherwise) {
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    struct Case {
        const char* oid;
        const char* name;
    };
    const Case cases[] = {
        // The first and last rows of the table, and one between.
        {"1.3.14.3.2.26", "SHA-1"},
        {"2.16.840.1.101.3.4.2.1", "SHA-256"},
        {"1.2.840.113549.1.1.13", "SHA-512 with RSA Encryption"},
        {"2.16.840.1.101.3.4.2.1 ", "Unknown object identifier"},  // compared whole
        {"2.16.840.1.101.3.4.2", "Unknown object identifier"},     // no prefix match
        {"", "Unknown object identifier"},
        {nullptr, ""},
    };
    std::string out = "stale";
    for (const Case& c : cases) {
        dialogs::FormatAlgorithmName(c.oid, out);
        EXPECT_EQ(out, c.name) << (c.oid != nullptr ? c.oid : "(null)");
    }
}

TEST(FormatAlgorithmName, NamesComeFromTheCurrentResourceModule) {
    platform::HINSTANCE german = platform::LoadLibraryA(GERMAN_LANGUAGE_MODULE);
    ASSERT_NE(german, nullptr);
    frame::AfxSetResourceHandle(german);
    std::string out;
    dialogs::FormatAlgorithmName("9.9", out);
    EXPECT_EQ(out, "Unbekannte Objektkennung");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(german);
}

TEST(FormatHexBlock, LinesOf64BytesOnlyForLongerValues) {
    const std::vector<uint8_t> bytes = Counting(256);
    struct Case {
        int count;
        std::string expected;
    };
    const Case cases[] = {
        {0, ""},
        {-5, ""},
        {1, "00"},
        {64, HexOf(bytes, 0, 64)},  // one line, no break
        {65, HexOf(bytes, 0, 64) + "\r\n" + HexOf(bytes, 64, 65)},
        {128, HexOf(bytes, 0, 64) + "\r\n" + HexOf(bytes, 64, 128) + "\r\n"},
        {256, HexOf(bytes, 0, 64) + "\r\n" + HexOf(bytes, 64, 128) + "\r\n" + HexOf(bytes, 128, 192) + "\r\n" +
                  HexOf(bytes, 192, 256) + "\r\n"},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        dialogs::FormatHexBlock(bytes.data(), c.count, out);
        EXPECT_EQ(out, c.expected) << c.count;
    }
    std::string out = "stale";
    dialogs::FormatHexBlock(nullptr, 4, out);
    EXPECT_EQ(out, "");
}

TEST(FormatHex, UppercaseDigitsWithoutSeparators) {
    const uint8_t bytes[] = {0x00, 0x0A, 0xFF, 0x5c};
    EXPECT_EQ(dialogs::FormatHex(bytes, 3), "000AFF");
    EXPECT_EQ(dialogs::FormatHex(bytes, 4), "000AFF5C");
    EXPECT_EQ(dialogs::FormatHex(bytes, 0), "");
    EXPECT_EQ(dialogs::FormatHex(bytes, -1), "");
    // Longer than 64 bytes: still one line.
    const std::vector<uint8_t> many = Counting(100);
    EXPECT_EQ(dialogs::FormatHex(many.data(), 100).size(), 200u);
}

TEST(FormatSerial64, EvenNumberOfDigitsWithoutLeadingZeros) {
    struct Case {
        uint32_t words[2];
        const char* expected;
    };
    const Case cases[] = {
        {{0, 0}, "00"},
        {{0, 0x1F3}, "01F3"},
        {{0, 0xFF}, "FF"},
        {{0x12, 0x34}, "1200000034"},
        {{1, 0}, "0100000000"},
        {{0xC5DA355B, 0}, "C5DA355B00000000"},
        {{0xFFFFFFFF, 0xFFFFFFFF}, "FFFFFFFFFFFFFFFF"},
        {{0, 0xABCDEF}, "ABCDEF"},
    };
    for (const Case& c : cases) EXPECT_EQ(dialogs::FormatSerial64(c.words), c.expected) << c.expected;
}

}  // namespace
