// Names compare by their simple text, never by their bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "certs/names.h"
#include "x509/ossl_ptr.h"
#include "x509/names.h"

namespace {

using namespace zorbelu;

struct Attribute {
    const char* field;
    int type;  // MBSTRING_ASC, V_ASN1_PRINTABLESTRING, ...
    const char* value;
    int set;   // -1: a new RDN; 0: joins the previous one
};

std::vector<uint8_t> NameDer(const std::vector<Attribute>& attributes) {
    X509NamePtr name(X509_NAME_new());
    for (const Attribute& a : attributes) {
        X509_NAME_ENTRY* entry = nullptr;
        entry = X509_NAME_ENTRY_create_by_txt(&entry, a.field, a.type,
                                              reinterpret_cast<const unsigned char*>(a.value), -1);
        EXPECT_NE(entry, nullptr);
        EXPECT_EQ(X509_NAME_add_entry(name.get(), entry, -1, a.set == 0 ? -1 : 0), 1);
        X509_NAME_ENTRY_free(entry);
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509_NAME(name.get(), &der);
    std::vector<uint8_t> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

std::string Text(const std::vector<Attribute>& attributes) {
    const auto der = NameDer(attributes);
    return x509::CertNameToStrSimple(der.data(), der.size()).value_or("<none>");
}

bool Equal(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    return certs::NamesEqual(a.data(), a.size(), b.data(), b.size());
}

TEST(NameText, ValuesInOrderWithoutTypes) {
    EXPECT_EQ(Text({{"C", MBSTRING_ASC, "DE", -1}, {"O", MBSTRING_ASC, "Example TSA", -1}, {"CN", MBSTRING_ASC, "TSA 1", -1}}),
              "DE, Example TSA, TSA 1");
    EXPECT_EQ(Text({{"O", MBSTRING_ASC, "Org", -1}, {"CN", MBSTRING_ASC, "A", -1}, {"serialNumber", MBSTRING_ASC, "7", 0}}),
              "Org, A + 7");
    EXPECT_EQ(Text({{"CN", MBSTRING_UTF8, "Zeitstempel München", -1}}), "Zeitstempel München");
    EXPECT_EQ(Text({}), "");
}

TEST(NameText, QuotesValuesThatWouldReadAmbiguously) {
    const struct {
        const char* value;
        const char* text;
    } cases[] = {
        {"Smith, John", "\"Smith, John\""}, {"a+b", "\"a+b\""},       {"x=y", "\"x=y\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"<tag>", "\"<tag>\""}, {"#1", "\"#1\""},
        {"a;b", "\"a;b\""},                  {" lead", "\" lead\""}, {"trail ", "\"trail \""},
        {"line\nbreak", "\"line\nbreak\""},  {"plain", "plain"},     {"in ner", "in ner"},
    };
    for (const auto& c : cases) EXPECT_EQ(Text({{"CN", MBSTRING_ASC, c.value, -1}}), c.text) << c.value;
}

TEST(NamesEqual, StringTypeDoesNotMatterValuesDo) {
    const auto printable = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_PRINTABLESTRING, "TSA", -1}});
    const auto utf8 = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_UTF8STRING, "TSA", -1}});
    const auto other = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_UTF8STRING, "TSB", -1}});
    const auto lower = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_UTF8STRING, "tsa", -1}});
    ASSERT_NE(printable, utf8);
    EXPECT_TRUE(Equal(printable, utf8));
    EXPECT_FALSE(Equal(utf8, other));
    EXPECT_FALSE(Equal(utf8, lower));  // case counts
    // Types are not part of the text: the same value under another type reads the same.
    EXPECT_TRUE(Equal(NameDer({{"O", MBSTRING_ASC, "X", -1}}), NameDer({{"OU", MBSTRING_ASC, "X", -1}})));
}

TEST(NamesEqual, BytesThatAreNoNameEqualNothing) {
    const auto name = NameDer({{"CN", MBSTRING_ASC, "A", -1}});
    const std::vector<uint8_t> garbage = {0x30, 0x03, 0x02, 0x01, 0x05};
    EXPECT_FALSE(Equal(garbage, garbage));
    EXPECT_FALSE(certs::NamesEqual(name.data(), name.size() - 1, name.data(), name.size() - 1));
    auto trailing = name;
    trailing.push_back(0);
    EXPECT_FALSE(Equal(trailing, name));
    EXPECT_FALSE(certs::NamesEqual(nullptr, 0, name.data(), name.size()));
}

}  // namespace
