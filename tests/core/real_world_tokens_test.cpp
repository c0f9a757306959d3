// Real tokens of public and test TSAs: fields, signer certificate, TAC and integrity as the data's README gives.
// And garbage, truncated, deeply nested and huge-length input: every call gives a code, never a crash or overread.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/test_util.h"
#include "support/fixture_x509.h"

namespace zorbelu::coretest {
namespace {

// Fields as encoded: negative and leading-zero serials, empty tsa names, BER, fractions, every accuracy part.
TEST(core_RealWorldInfo, FieldsAsEncoded) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const struct {
        const char* file;
        const char* genTime;
        const char* serialHex;  // nullptr: not checked
        const char* tsaName;    // nullptr: not checked
        int32_t seconds, millis, micros, ordering;
    } cases[] = {
        {"bc-java/tsp/sha1Response.tsr", "20041209075205Z", "04",
         "CN=Eric H. Echidna, emailAddress=eric@bouncycastle.org, O=Bouncy Castle, C=AU", 1, 500, 100, 1},
        // Negative serial: the content octets as encoded (two's complement); no tsa field.
        {"trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr", "20230201000000Z", "deadbeef", "", 1, 0, 0,
         0},
        // tsa is a directoryName holding an empty Name.
        {"sigstore-go/extracted/public-key-validity.signedTimestamp0.tsr", "20260604174329Z", nullptr, "", 0, 0, 0, 0},
        // BER with indefinite lengths, a 17-octet serial with a leading zero, genTime with a fraction.
        {"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr", "20170210140752.5Z", "00802b413b0000015a2859fdd9fb2b359b",
         nullptr, 0, 100, 0, 0},
        // Milliseconds in genTime, ordering TRUE, an attribute certificate in the set.
        {"bc-java/tsp/generalizedTime.tsr", "20050310105843.933Z", nullptr, nullptr, 0, 500, 0, 1},
        {"asn1crypto/cades-extracted/cades-epes-a-explicit.signatureTimeStampToken.der", "20180405042603.228Z",
         nullptr, nullptr, 1, 1, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        uint32_t rc = 0;
        const ZORBELTimeStampInfo info = InfoOf(RealWorldFile(c.file), &rc);
        ASSERT_EQ(rc, ZORBEL_OK);
        EXPECT_STREQ(info.genTime, c.genTime);
        const std::string serial = ToHex(info.serialNumber, info.serialNumberLength);
        EXPECT_TRUE(c.serialHex == nullptr || serial == c.serialHex) << serial;
        EXPECT_TRUE(c.tsaName == nullptr || std::string(info.tsaName) == c.tsaName) << info.tsaName;
        EXPECT_EQ(std::vector<int32_t>({info.accuracySeconds, info.accuracyMillis, info.accuracyMicros, info.ordering}),
                  std::vector<int32_t>({c.seconds, c.millis, c.micros, c.ordering}));
    }
    const ZORBELTimeStampInfo info = InfoOf(RealWorldFile("bc-java/tsp/sha1Response.tsr"));
    EXPECT_EQ(info.version, 1);
    EXPECT_STREQ(info.policyOid, "1.2.3.4.1");
    EXPECT_STREQ(info.hashAlgorithmOid, "1.3.14.3.2.26");
    EXPECT_EQ(ToHex(info.hashValue, info.hashLength), "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6");
}

TEST(core_RealWorldInfo, NonGrantedResponsesAndBadRecords) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    for (const char* file : {"digitorus-timestamp/respRejection.tsr", "bc-java/tsp/unacceptablePolicy.tsr"}) {
        uint32_t rc = 0;
        InfoOf(RealWorldFile(file), &rc);
        EXPECT_EQ(rc, ZORBEL_VERIFY_STRUCTURE) << file;
    }
    const Bytes token = RealWorldFile("bc-java/tsp/sha1Response.tsr");
    const ZORBELUBlob blob = Blob(token);
    ZORBELTimeStampInfo info{};
    info.size = 1040;
    EXPECT_EQ(ZORBELGetTimeStampInfoEx(&blob, &info), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELGetTimeStampInfoEx(&blob, nullptr), ZORBEL_ERR_PARAM);
}

// An output call (TSA certificate or TAC) into a large buffer; `result` gets its answer.
using OutputCall = uint32_t (*)(const ZORBELUBlob*, ZORBELUCertBlob*);
Bytes Output(OutputCall call, const Bytes& token, uint32_t* result) {
    const ZORBELUBlob blob = Blob(token);
    Bytes buffer(10000);
    ZORBELUCertBlob out{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    *result = call(&blob, &out);
    buffer.resize(*result == ZORBEL_OK ? out.length : 0);
    return buffer;
}

// The TSA certificate is the one that signed, whatever else the bag holds; none: 1700.
TEST(core_RealWorldTsaCert, IsTheCertificateThatSigned) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const struct {
        const char* token;
        const char* expectedPem;  // nullptr: no certificate
    } cases[] = {
        {"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr", "bc-test-data/tsp/2Chains3ATS/extracted/exceet_TSA_04.pem"},
        {"bc-java/tsp/v2SigningCertResponse.tsr", "bc-java/tsp/extracted/DRV_QC_Root_TSP.pem"},
        {"bc-java/tsp/generalizedTime.tsr", "bc-java/tsp/extracted/nCipher_demo-dse200-01.pem"},
        {"digitorus-timestamp/respNonce.tsr", "digitorus-timestamp/extracted/GlobalSign_TSA_for_Adobe_CDS_G2.pem"},
        {"trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr",
         "trailofbits-rfc3161-client/test_tsa/ts_chain.pem"},  // its first certificate is the TSA's
        {"digitorus-timestamp/respNoCert.tsr", nullptr},
        {"sigstore-js/github-tsa-2023-12-20.tsr", nullptr},
        {"bc-java/tsp/md5Response.tsr", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        uint32_t rc = 0;
        const Bytes der = Output(ZORBELGetTSACert, RealWorldFile(c.token), &rc);
        EXPECT_EQ(rc, c.expectedPem != nullptr ? ZORBEL_OK : ZORBEL_ERR_NO_TSA_CERT);
        EXPECT_EQ(der, c.expectedPem != nullptr ? ToBytes(fixtures::x509::CertPemToDer(test::ReadFileBytes(RealWorld(c.expectedPem)))) : Bytes{});
    }
}

TEST(core_RealWorldTsaCert, SmallBufferTellsTheSizeNeeded) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = RealWorldFile("digitorus-timestamp/respNonce.tsr");
    const ZORBELUBlob blob = Blob(token);
    ZORBELUCertBlob out{nullptr, 0, 0};
    ASSERT_EQ(ZORBELGetTSACert(&blob, &out), ZORBEL_ERR_BUFFER_TOO_SMALL);
    const uint32_t needed = out.length;
    Bytes buffer(needed);
    for (const uint32_t room : {needed - 1, needed}) {
        out = {buffer.data(), room, 0};
        EXPECT_EQ(ZORBELGetTSACert(&blob, &out), room < needed ? ZORBEL_ERR_BUFFER_TOO_SMALL : ZORBEL_OK);
        EXPECT_EQ(out.length, needed);
    }
    EXPECT_EQ(out.encoding, ZORBELU_ENCODING_DER);
}

// Integrity without a store (with a store: openssl_comparison_test).
TEST(core_RealWorldIntegrity, VerdictAgainstTheImprint) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    constexpr const char* kHello = "trailofbits-rfc3161-client/hello.txt";
    constexpr const char* kHelloNl = "github-ietf-cms/hello-nl.txt";
    constexpr const char* kFda = "bc-test-data/tsp/FileDaFirmare/extracted/";
    const struct {
        std::string token;
        std::string dataFile;  // hashed with the token's imprint algorithm, or
        const char* imprintHex;  // the imprint as the README gives it
        uint32_t expected;
    } cases[] = {
        {"digitorus-timestamp/respNoNonce.tsr", "digitorus-timestamp/data.txt", nullptr, ZORBEL_OK},
        {"digitorus-timestamp/respNoCert.tsr", "digitorus-timestamp/data.txt", nullptr, ZORBEL_VERIFY_NO_SIGNER_CERT},
        {"github-ietf-cms/fixtureTimestampSymantec.tsr", kHelloNl, nullptr, ZORBEL_VERIFY_NO_SIGNER_CERT},
        {"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.1.tsr", "",
         "28dd2b11a6679c12b1db41fc6258f2dcdb4b8e9257d82e2cf3333b701ab11a75", ZORBEL_OK},
        {kFda + std::string("FileDaFirmare.txt.tsd.token1.der"), kFda + std::string("token1.imprint-input.bin"),
         nullptr, ZORBEL_OK},
        {kFda + std::string("FileDaFirmare.txt.tsd.token2.der"), kFda + std::string("token2.imprint-input.bin"),
         nullptr, ZORBEL_OK},
        {"asn1crypto/cades-extracted/cades-epes-a-explicit.escTimeStamp.der", "",
         "631a49adcf2ae573942611fa4a3c1132eca5ed70b16d735b468c61571fb8bb7e", ZORBEL_OK},
        {"asn1crypto/cades-extracted/cades-epes-a-explicit.archiveTimeStampV2.der", "",
         "cab26c78310a390f1ac7eb53c6932b31d3c98cfc2d3c22239b3da23f2168f1d4", ZORBEL_OK},
        {"trailofbits-rfc3161-client/sigstage/response-sha384.tsr", kHello, nullptr, ZORBEL_OK},
        {"trailofbits-rfc3161-client/sigstage/response-sha512.tsr", kHello, nullptr, ZORBEL_OK},
        {"bc-java/tsp/sha1Response.tsr", "", "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6", ZORBEL_VERIFY_NO_SIGNER_CERT},
    };
    for (const auto& c : cases) {
        const Bytes token = RealWorldFile(c.token);
        const ZORBELUDigestInfoEx digest =
            DigestLikeImprint(token, c.dataFile.empty() ? nullptr : c.dataFile.c_str(), c.imprintHex);
        EXPECT_EQ(VerifyEx(token, digest), c.expected) << c.token;
    }
    // A wrong digest and a wrong algorithm have their own codes.
    const Bytes token = RealWorldFile("trailofbits-rfc3161-client/test_tsa/response.tsr");
    ZORBELUDigestInfoEx digest = HashWithLibrary(ZORBEL_HASH_SHA512, RealWorldFile(kHello));
    digest.digest[0] ^= 1;
    EXPECT_EQ(VerifyEx(token, digest), ZORBEL_VERIFY_IMPRINT_VALUE);
    EXPECT_EQ(VerifyEx(token, HashWithLibrary(ZORBEL_HASH_SHA256, RealWorldFile(kHello))),
              ZORBEL_VERIFY_IMPRINT_ALGORITHM);
}

TEST(core_Tac, RealTacIsCutOutAndDecoded) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    uint32_t rc = 0;
    const Bytes tac = Output(ZORBELGetTAC, RealWorldFile("bc-java/tsp/generalizedTime.tsr"), &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    EXPECT_EQ(tac, RealWorldFile("bc-java/tsp/extracted/generalizedTime.v1AttrCert-TAC.der"));
    Output(ZORBELGetTAC, RealWorldFile("bc-java/tsp/v2SigningCertResponse.tsr"), &rc);
    EXPECT_EQ(rc, ZORBEL_ERR_NO_TAC);
    const Bytes token = RealWorldFile("bc-java/tsp/generalizedTime.tsr");
    const ZORBELUBlob tokenBlob = Blob(token);
    ZORBELUCertBlob query{nullptr, 0, 0};
    EXPECT_EQ(ZORBELGetTAC(&tokenBlob, &query), ZORBEL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(query.length, 680u);

    const ZORBELUBlob blob = Blob(tac);
    ZORBELTACCertInfo info{};
    ASSERT_EQ(ZORBELGetTACCertInfo(&blob, &info), ZORBEL_OK);
    EXPECT_EQ(info.version, 2);
    EXPECT_STREQ(info.holder, "C=GB, ST=Cambridgeshire, L=Cambridge, O=nCipher Corporation Limited, "
                              "OU=nCipher DSE ESN:322A-B5DD-725B, CN=demo-dse200-01");
    EXPECT_STREQ(info.holderHashAlgorithmOid, "1.3.14.3.2.26");
    EXPECT_EQ(info.holderHashLength, 20u);
    EXPECT_STREQ(info.issuer, "C=US, O=nCipher Corporation Limited, OU=Production Test, CN=Test TMC");
    EXPECT_EQ(info.serialNumber[0], 0xC5DA355Bu);  // -0x3A25CAA500000000 in two's complement
    EXPECT_EQ(info.serialNumber[1], 0u);
    EXPECT_STREQ(info.notBefore, "20050310025419Z");
    EXPECT_STREQ(info.notAfter, "20050313025419Z");
    EXPECT_STREQ(info.signatureAlgorithmOid, "1.2.840.113549.1.1.5");
    EXPECT_EQ(info.signatureLength, 128u);
    ZORBELTACTimingMetrics metrics{};
    ASSERT_EQ(ZORBELGetTACTimingMetrics(&blob, &metrics), ZORBEL_OK);
    EXPECT_STREQ(metrics.auditedTime, "20050310025419Z");
    EXPECT_FLOAT_EQ(metrics.offset, -0.026809f);
    EXPECT_FLOAT_EQ(metrics.delay, 0.169468f);
    EXPECT_STREQ(metrics.expiration, "20050313025419Z");
    ZORBELTACTimingPolicy policy{};
    ASSERT_EQ(ZORBELGetTACTimingPolicy(&blob, &policy), ZORBEL_OK);
    EXPECT_STREQ(policy.policyOid, "1.3.6.1.4.1.601.10.3.1");
    EXPECT_FLOAT_EQ(policy.offset, 0.5f);
    EXPECT_FLOAT_EQ(policy.delay, 0.25f);
}

// The reading and verifying calls, each on the same bytes.
std::vector<uint32_t> AllCalls(const Bytes& bytes) {
    // A copy of exactly the given size, so that a sanitizer sees any overrun.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const ZORBELUBlob blob{exact.get(), static_cast<uint32_t>(bytes.size())};
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    Bytes buffer(8192);
    ZORBELUCertBlob cert{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    ZORBELUCertBlob tac{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    const ZORBELUDigestInfoEx digest = DigestEx("2.16.840.1.101.3.4.2.1", Bytes(32, 0));
    ZORBELTACCertInfo tacInfo{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
    return {ZORBELGetTimeStampInfoEx(&blob, &info),
            ZORBELGetTSACert(&blob, &cert),
            ZORBELGetTAC(&blob, &tac),
            ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr),
            ZORBELGetTACCertInfo(&blob, &tacInfo),
            ZORBELGetTACTimingMetrics(&blob, &metrics),
            ZORBELGetTACTimingPolicy(&blob, &policy)};
}

const std::vector<uint32_t> kUnreadable = {2001, 2001, 2001, 2001, 1802, 1802, 1802};

Bytes Repeat(const Bytes& unit, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

TEST(core_MalformedInput, GarbageGivesACode) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"huge length", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xF0, 0x06, 0x01, 0x00}},
        {"length beyond the bytes", {0x30, 0x05, 0x06, 0x01, 0x00}},
        {"indefinite never closed", {0x30, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01}},
        {"indefinite primitive", {0x04, 0x80, 0x00, 0x00}},
        {"stray end of contents", {0x30, 0x04, 0x00, 0x00, 0x00, 0x00}},
        {"deep nesting", Repeat({0x30, 0x80}, 5000)},
        {"high tag number", {0x1F, 0x81, 0x00, 0x00}},
        {"bit string pieces with unused bits inside", {0x23, 0x08, 0x03, 0x02, 0x01, 0xFE, 0x03, 0x02, 0x00, 0xFF}},
    };
    for (const auto& c : cases) EXPECT_EQ(AllCalls(c.bytes), kUnreadable) << c.name;
}

TEST(core_MalformedInput, EmptyAndNullAreBadArguments) {
    const ZORBELUBlob empty{reinterpret_cast<const uint8_t*>("x"), 0};
    const ZORBELUBlob null{nullptr, 10};
    for (const ZORBELUBlob* blob : {&empty, &null, static_cast<const ZORBELUBlob*>(nullptr)}) {
        ZORBELTimeStampInfo info{};
        info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
        EXPECT_EQ(ZORBELGetTimeStampInfoEx(blob, &info), ZORBEL_ERR_PARAM);
        const ZORBELUDigestInfoEx digest = DigestEx("1.3.14.3.2.26", Bytes(20, 0));
        EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(blob, &digest, nullptr, nullptr), ZORBEL_ERR_PARAM);
    }
}

TEST(core_MalformedInput, BadDigestRecords) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = RealWorldFile("bc-java/tsp/v2SigningCertResponse.tsr");
    const ZORBELUBlob blob = Blob(token);
    ZORBELUDigestInfoEx digest = DigestEx("2.16.840.1.101.3.4.2.1", Bytes(32, 0));
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, nullptr, nullptr, nullptr), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, &digest, nullptr), ZORBEL_ERR_PARAM);
    digest.digestLength = 129;
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), ZORBEL_ERR_PARAM);
    digest.digestLength = 32;
    std::memset(digest.algorithmOid, '1', sizeof digest.algorithmOid);  // no NUL
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), ZORBEL_ERR_PARAM);
    ZORBELUDigestInfo plain{};
    std::strcpy(plain.algorithmOid, "1.3.14.3.2.26");
    plain.digestLength = 41;
    EXPECT_EQ(ZORBELVerifyTimeStampToken(&blob, &plain, nullptr, nullptr), ZORBEL_ERR_PARAM);
    ZORBELCertStore fake{};
    fake.size = 12;
    plain.digestLength = 20;
    EXPECT_EQ(ZORBELVerifyTimeStampToken(&blob, &plain, nullptr, &fake), ZORBEL_ERR_PARAM);
}

// Every prefix of real tokens, DER and BER: never OK, never a crash.
TEST(core_MalformedInput, EveryPrefixOfATokenGivesACode) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    for (const char* file : {"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr", "bc-java/tsp/generalizedTime.tsr",
                             "trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr"}) {
        const Bytes token = RealWorldFile(file);
        for (size_t size = 1; size < token.size(); size += (size < 64 ? 1 : 7)) {
            const std::vector<uint32_t> results = AllCalls(Bytes(token.begin(), token.begin() + static_cast<long>(size)));
            EXPECT_EQ(results[0], ZORBEL_VERIFY_STRUCTURE) << file << " " << size;
            EXPECT_NE(results[3], ZORBEL_OK) << file << " " << size;
        }
    }
}

// Bytes after a token are ignored, as OpenSSL's readers ignore them.
TEST(core_MalformedInput, TrailingBytesAreIgnored) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    Bytes token = RealWorldFile("bc-java/tsp/sha1Response.tsr");
    token.insert(token.end(), {0x00, 0x00, 0xDE, 0xAD});
    uint32_t rc = 0;
    InfoOf(token, &rc);
    EXPECT_EQ(rc, ZORBEL_OK);
}

}  // namespace
}  // namespace zorbelu::coretest
