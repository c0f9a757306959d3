// The compact CRL reader against OpenSSL's decoder: both refuse a CRL, or read the same entries.
// The bounded DER reader: elements stay inside their bytes; DER lengths are minimal, BER ones may be longer.
#include <gtest/gtest.h>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/test_util.h"
#include "support/fixture_pki.h"
#include "support/fixture_x509.h"
#include "x509/compact_crl.h"
#include "x509/der.h"
#include "x509/ossl_ptr.h"
#include "zorbel.h"

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::FixturePki;
using Asn1EnumPtr = OsslPtr<ASN1_ENUMERATED, ASN1_ENUMERATED_free>;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

template <typename T>
std::string DerOf(int (*i2d)(const T*, unsigned char**), const T* value) {
    unsigned char* der = nullptr;
    const int size = i2d(value, &der);
    const OpenSslBytesPtr owned(der);
    return std::string(reinterpret_cast<const char*>(der), static_cast<size_t>(size));
}

std::string Contents(const ASN1_INTEGER* serial) {  // a serial as the compact reader keys it
    const std::string der = DerOf(i2d_ASN1_INTEGER, serial);
    zorbel::der::Reader reader({Bytes(der), der.size()});
    zorbel::der::Tlv tlv;
    EXPECT_TRUE(reader.Next(tlv));
    return std::string(reinterpret_cast<const char*>(tlv.contents.data), tlv.contents.size);
}

int ReasonOf(X509_REVOKED* entry) {
    const Asn1EnumPtr reason(
        static_cast<ASN1_ENUMERATED*>(X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
    return reason ? static_cast<int>(ASN1_ENUMERATED_get(reason.get())) : x509::kNoReason;
}

// Both readers agree on `der`: both refuse it, or list the same entries and find no serial listed in neither.
void ExpectSameAsOpenSsl(const std::string& der, bool acceptable) {
    const uint8_t* p = Bytes(der);
    const X509CrlPtr crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    const bool wholeForOpenSsl = crl && p == Bytes(der) + der.size();
    const std::optional<x509::CompactCrl> compact = x509::CompactCrl::Parse(Bytes(der), der.size());
    ASSERT_EQ(compact.has_value(), acceptable);
    if (!acceptable) return;
    ASSERT_TRUE(wholeForOpenSsl) << "the compact reader took bytes OpenSSL refuses";
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl.get());
    const int count = revoked != nullptr ? sk_X509_REVOKED_num(revoked) : 0;  // no list: NULL
    ASSERT_EQ(static_cast<size_t>(count), compact->EntryCount());
    for (int i = 0; i < count; ++i) {
        X509_REVOKED* entry = sk_X509_REVOKED_value(revoked, i);
        const std::string serial = Contents(X509_REVOKED_get0_serialNumber(entry));
        const x509::RevokedEntry* found = compact->Find(Bytes(serial), serial.size());
        ASSERT_NE(found, nullptr) << "entry " << i;
        const zorbel::der::Span date = compact->RevocationDate(*found);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(date.data), date.size),
                  DerOf(i2d_ASN1_TIME, X509_REVOKED_get0_revocationDate(entry)));
        EXPECT_EQ(found->reason, ReasonOf(entry));
        X509_REVOKED* byOpenSsl = nullptr;
        EXPECT_GE(X509_CRL_get0_by_serial(crl.get(), &byOpenSsl, X509_REVOKED_get0_serialNumber(entry)), 1);
    }
    const std::string absent = "\x7F\x01\x02\x03\x04\x05\x06\x07\x08\x09";
    EXPECT_EQ(compact->Find(Bytes(absent), absent.size()), nullptr);
}

X509Ptr Certificate(const std::string& der) {
    const uint8_t* p = Bytes(der);
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

struct Listed {
    const ASN1_INTEGER* serial;
    int reason;  // kNoReason: no reason code
};

// An intermediate's CRL of shapes the fixture PKI does not make; `critical` adds an unknown critical extension.
std::string IntermediateCrl(const std::vector<Listed>& entries, bool critical = false) {
    const FixturePki& pki = FixturePki::Shared();
    X509CrlPtr crl(X509_CRL_new());
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(Certificate(pki.CertDer(Ca::Intermediate)).get()));
    const Asn1TimePtr thisUpdate(X509_gmtime_adj(nullptr, -3600));
    const Asn1TimePtr nextUpdate(X509_gmtime_adj(nullptr, 86400));
    X509_CRL_set1_lastUpdate(crl.get(), thisUpdate.get());
    X509_CRL_set1_nextUpdate(crl.get(), nextUpdate.get());
    for (const Listed& listed : entries) {
        X509_REVOKED* entry = X509_REVOKED_new();
        X509_REVOKED_set_serialNumber(entry, const_cast<ASN1_INTEGER*>(listed.serial));
        X509_REVOKED_set_revocationDate(entry, thisUpdate.get());
        if (listed.reason != x509::kNoReason) {
            const Asn1EnumPtr reason(ASN1_ENUMERATED_new());
            ASN1_ENUMERATED_set(reason.get(), listed.reason);
            X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, reason.get(), 0, 0);
        }
        X509_CRL_add0_revoked(crl.get(), entry);
    }
    if (critical) {
        const Asn1ObjPtr oid(OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1));
        OsslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free> value(ASN1_OCTET_STRING_new());
        ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char*>("\x05\x00"), 2);
        const X509ExtensionPtr extension(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 1, value.get()));
        X509_CRL_add_ext(crl.get(), extension.get(), -1);
    }
    X509_CRL_sort(crl.get());
    const auto key = fixtures::x509::CachedKey("intermediate", fixtures::x509::KeyType::EcP256);
    EXPECT_GT(X509_CRL_sign(crl.get(), key.get(), EVP_sha256()), 0);
    return fixtures::x509::CrlDer(crl.get());
}

// Negative, zero-padded and zero serials, and reasons.
std::string OddSerialsCrl() {
    std::vector<Asn1IntPtr> serials;
    std::vector<Listed> entries;
    for (long value : {-5L, 0L, 0x80L, 0x7FL, 12345678L}) {
        serials.emplace_back(ASN1_INTEGER_new());
        ASN1_INTEGER_set(serials.back().get(), value);
        entries.push_back({serials.back().get(), value == 0 ? x509::kNoReason : value == 0x80L ? 8 : 1});
    }
    return IntermediateCrl(entries);
}

std::string Changed(std::string der, size_t at, char byte) {
    der.at(at) = byte;
    return der;
}

TEST(CompactCrl, ReadsWhatOpenSslReadsAndRefusesWhatItRefuses) {
    const FixturePki& pki = FixturePki::Shared();
    const std::string fixture = pki.CrlBytes(Crl::Intermediate);
    std::vector<uint64_t> many;
    for (uint64_t s = 1; s <= 20000; ++s) many.push_back(s * 7919);
    const std::string large = pki.MakeCrl(Ca::Intermediate, many);
    const std::string odd = OddSerialsCrl();
    // Serial 0x80 of the odd CRL, which needs its zero octet.
    const size_t serialAt = odd.find(std::string("\x02\x02\x00\x80", 4));
    ASSERT_NE(serialAt, std::string::npos);
    // The OID of the inner signature algorithm, ecdsa-with-SHA256.
    const size_t algorithmAt = fixture.find(std::string("\x06\x08\x2a\x86\x48\xce\x3d\x04\x03\x02", 10));
    ASSERT_NE(algorithmAt, std::string::npos);
    const size_t reasonOidAt = odd.find(std::string("\x06\x03\x55\x1d\x15", 5));
    ASSERT_NE(reasonOidAt, std::string::npos);
    struct Row {
        const char* why;
        std::string der;
        bool acceptable;
    } rows[] = {
        {"the root's empty CRL", pki.CrlBytes(Crl::Root), true},
        {"the intermediate's CRL, one revoked TSA", fixture, true},
        {"an expired CRL reads like any other", pki.CrlBytes(Crl::IntermediateExpired), true},
        {"filler entries", pki.CrlBytes(Crl::IntermediateLarge), true},
        {"20,000 entries", large, true},
        {"negative, zero-padded and zero serials, reasons", odd, true},
        {"empty", "", false},
        {"cut short", fixture.substr(0, fixture.size() - 1), false},
        {"a byte after it", fixture + '\0', false},
        {"the outer SEQUENCE a SET", Changed(fixture, 0, '\x31'), false},
        {"a serial with a needless sign octet", Changed(odd, serialAt + 3, '\x7F'), false},
        {"PEM text", pki.CrlBytes(Crl::IntermediatePem), false},
        {"an algorithm OID with an impossible length", Changed(fixture, algorithmAt + 1, '\x88'), false},
        {"an entry's extension OID cut inside a subidentifier", Changed(odd, reasonOidAt + 4, '\xF0'), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ExpectSameAsOpenSsl(row.der, row.acceptable);
    }
}

uint32_t VerifyWith(const char* tokenName, const ZORBELCertStore* store) {
    const std::string& token = FixturePki::Shared().Token(tokenName);
    const ZORBELUBlob blob = coretest::Blob(token);
    const ZORBELTimeStampInfo info = coretest::InfoOf(coretest::Bytes(token.begin(), token.end()));
    const ZORBELUDigestInfoEx digest =
        coretest::DigestEx(info.hashAlgorithmOid, coretest::Bytes(info.hashValue, info.hashValue + info.hashLength));
    return ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, store);
}

// The core's verdicts with the compact revocation check, each as X509_verify_cert answers.
TEST(CompactCrl, VerdictsOfTheCoreStore) {
    const FixturePki& pki = FixturePki::Shared();
    const X509Ptr revokedTsa = Certificate(pki.CertDer(fixtures::Tsa::Revoked));
    const ASN1_INTEGER* serial = X509_get0_serialNumber(revokedTsa.get());
    std::string badSignature = pki.CrlBytes(Crl::Intermediate);
    badSignature[badSignature.size() - 3] ^= 0x01;
    struct Row {
        const char* why;
        const char* token;
        std::vector<std::string> crls;
        uint32_t expected;
    } rows[] = {
        {"listed", "revoked-sha256", {IntermediateCrl({{serial, 1}})}, ZORBEL_VERIFY_CERT_REVOKED},
        {"listed without a reason", "revoked-sha256", {IntermediateCrl({{serial, x509::kNoReason}})},
         ZORBEL_VERIFY_CERT_REVOKED},
        {"removed from the CRL", "revoked-sha256", {IntermediateCrl({{serial, 8}})}, ZORBEL_OK},
        {"the CRL's signature broken", "revoked-sha256", {badSignature}, ZORBEL_VERIFY_INCOMPLETE},
        {"the CRL's signature broken, TSA not listed", "good-sha256", {badSignature}, ZORBEL_VERIFY_INCOMPLETE},
        {"a critical extension OpenSSL knows not", "good-sha256", {IntermediateCrl({}, true)},
         ZORBEL_VERIFY_CERT_INVALID},
        {"two CRLs of the issuer: OpenSSL chooses", "good-sha256",
         {pki.CrlBytes(Crl::Intermediate), IntermediateCrl({})}, ZORBEL_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const coretest::Store store = coretest::MakeStore({pki.CertDer(Ca::Intermediate)}, row.crls);
        EXPECT_EQ(VerifyWith(row.token, store.get()), row.expected);
    }
}

// A store node given other bytes than it was hashed from is judged by those bytes.
TEST(CompactCrl, ANodeGivenOtherBytesIsJudgedByThem) {
    const FixturePki& pki = FixturePki::Shared();
    const std::string& listing = pki.CrlBytes(Crl::Intermediate);
    const coretest::Store store = coretest::MakeStore({pki.CertDer(Ca::Intermediate)}, {IntermediateCrl({})});
    EXPECT_EQ(VerifyWith("revoked-sha256", store.get()), ZORBEL_OK);
    auto* copy = static_cast<uint8_t*>(std::malloc(listing.size()));  // before the free: another address
    ASSERT_NE(copy, nullptr);
    std::memcpy(copy, listing.data(), listing.size());
    ZORBELCertNode* node = store->crls;
    std::free(node->data);
    node->data = copy;
    node->length = static_cast<uint32_t>(listing.size());
    EXPECT_EQ(VerifyWith("revoked-sha256", store.get()), ZORBEL_VERIFY_CERT_REVOKED);
}

using Octets = std::vector<uint8_t>;

// An OCTET STRING of 128 bytes: the shortest that needs a long-form length.
Octets LongFormElement() {
    Octets bytes{0x04, 0x81, 0x80};
    bytes.resize(3 + 0x80, 0x11);
    return bytes;
}

TEST(core_DerReader, ElementsStayInsideTheirBytes) {
    const struct {
        const char* why;
        Octets bytes;
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
