// GeneralizedTime conversion, the zone table, algorithm codes and validity periods.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/fixture_x509.h"
#include "zorbelutil.h"

namespace {

TEST(GeneralizedTime, ConvertsStrictUtcTextsOnly) {
    const struct {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"20240229120000Z", 1709208000},
        {"19700101000000Z", 0},
        {"20241301000000Z", 1735689600},  // month 13 is January of the next year
        {"20240230000000Z", 1709251200},  // 30 February is 1 March
        {"30001231235959Z", 32535215999},
        {"30010101000000Z", -1},
        {"19691231235959Z", -1},
        {"20240229120000+0900", -1},
        {"2024022912000Z", -1},
        {"20240229120000", -1},
        {"2024022912000aZ", -1},
        {"", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(ZORBELUGeneralizedTimeToTimeT(c.text), c.expected) << c.text;
    EXPECT_EQ(ZORBELUGeneralizedTimeToTimeT(nullptr), -1);
}

// The first and last rows, one between; the numbers just outside the table.
TEST(TimeZoneTable, RowsAndTheNumbersOutsideIt) {
    const struct {
        uint32_t id;
        const char* abbreviation;
        int32_t bias;
    } rows[] = {{2, "PST", -480}, {13, "BST", 60}, {15, "WEST", 60}, {21, "EEST", 180}, {23, "KST", 540}};
    for (const auto& row : rows) {
        ZORBELUTimeZoneInfo info;
        std::memset(&info, 0xAB, sizeof info);
        ASSERT_EQ(ZORBELUGetTimeZoneInfo(row.id, &info), ZORBELU_OK) << row.id;
        EXPECT_EQ(info.zoneId, row.id);
        EXPECT_STREQ(info.abbreviation, row.abbreviation);
        EXPECT_EQ(info.reserved, 0u);
        EXPECT_EQ(info.biasMinutes, row.bias);
    }
    for (const uint32_t outside : {0u, 1u, 24u, 0xFFFFFFFFu}) {
        ZORBELUTimeZoneInfo info;
        EXPECT_EQ(ZORBELUGetTimeZoneInfo(outside, &info), ZORBELU_ERR_TIME_ZONE) << outside;
    }
    EXPECT_EQ(ZORBELUGetTimeZoneInfo(10, nullptr), ZORBELU_ERR_PARAM);
}

TEST(AlgorithmCodes, IdentifierAndLengthMustBothMatch) {
    const struct {
        const char* oid;
        int32_t length;
        uint32_t result;
        uint32_t code;
    } cases[] = {
        {"1.3.14.3.2.26", 13, ZORBELU_OK, ZORBELU_ALG_SHA1},
        {"2.16.840.1.101.3.4.2.1", 22, ZORBELU_OK, ZORBELU_ALG_SHA256},
        {"2.16.840.1.101.3.4.2.2", 22, ZORBELU_OK, ZORBELU_ALG_SHA384},
        {"2.16.840.1.101.3.4.2.3", 22, ZORBELU_OK, ZORBELU_ALG_SHA512},
        {"2.16.840.1.101.3.4.2.1", 21, ZORBELU_ERR_PARAM, 0},
        {"1.2.840.113549.1.1.11", 21, ZORBELU_ERR_PARAM, 0},
        {"", 0, ZORBELU_ERR_PARAM, 0},
    };
    for (const auto& c : cases) {
        uint32_t code = 0;
        EXPECT_EQ(ZORBELUGetOIDValueToOID(c.oid, c.length, &code), c.result) << c.oid << " " << c.length;
        EXPECT_EQ(code, c.code) << c.oid;  // a refusal leaves the code as it was
    }
    uint32_t code = 0;
    EXPECT_EQ(ZORBELUGetOIDValueToOID(nullptr, 13, &code), ZORBELU_ERR_WINDOW);
    EXPECT_EQ(ZORBELUGetOIDValueToOID("1.3.14.3.2.26", 13, nullptr), ZORBELU_ERR_WINDOW);
}

TEST(IsValidity, BothEndsOfThePeriodAreValid) {
    const int64_t notBefore = 1577836800, notAfter = 1893456000;  // 2020-01-01 and 2030-01-01
    namespace x509 = zorbelu::fixtures::x509;
    const auto key = x509::CachedKey("validity", x509::KeyType::EcP256);
    x509::CertRequest request;
    request.commonName = "validity";
    request.key = key.get();
    request.notBefore = notBefore;
    request.notAfter = notAfter;
    std::string der = x509::CertDer(x509::MakeCertificate(request).get());
    ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size()), 1};
    const struct {
        int64_t time;
        uint32_t expected;
    } cases[] = {
        {notBefore - 1, ZORBELU_ERR_NOT_YET_VALID}, {notBefore, ZORBELU_OK}, {notAfter, ZORBELU_OK},
        {notAfter + 1, ZORBELU_ERR_EXPIRED},       {0, ZORBELU_ERR_PARAM},  {-5, ZORBELU_ERR_PARAM},
    };
    for (const auto& c : cases) EXPECT_EQ(ZORBELUIsValidity(&cert, c.time), c.expected) << c.time;
    cert.encoding = 4;
    EXPECT_EQ(ZORBELUIsValidity(&cert, notBefore), ZORBELU_ERR_CRL_ENCODING);
    cert.encoding = 3;  // DER bytes read as PEM do not decode
    EXPECT_EQ(ZORBELUIsValidity(&cert, notBefore), ZORBELU_VS_CERT_INVALID);
    EXPECT_EQ(ZORBELUIsValidity(nullptr, notBefore), ZORBELU_ERR_PARAM);
}

}  // namespace
