// Real tokens of public and test TSAs: fields, signer certificate, TAC and integrity as the data's README gives.
// Our verdict beside the openssl tool's on them, with the same certificates and -attime.
// And garbage, truncated, deeply nested and huge-length input: every call gives a code, never a crash or overread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

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

// Integrity without a store (with a store: core_OpensslComparison below).
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

struct Row {
    const char* id;
    uint32_t ours;            // our expected result
    const char* command;      // run from the test data folder after "openssl "
    const char* imprint = nullptr;  // the data file or the imprint's hex, where the command does not give it
    const char* token = nullptr;    // where the command reads another form of the token
    bool sameVerdict = true;  // false where we judge differently on purpose (see docs/core.md)
};

#define TOB "trailofbits-rfc3161-client/"
#define HELLO " -data " TOB "hello.txt "
#define CHAIN(dir) "-CAfile " TOB dir "/ts_chain.pem -untrusted " TOB dir "/ts_chain.pem"
#define IETF " -data github-ietf-cms/hello-nl.txt -CAfile roots/"
#define GS "digitorus-timestamp/extracted/GlobalSign_"
#define ATS(n) "cms -verify -inform DER -in bc-test-data/tsp/2Chains3ATS/BIN_ER.ers." n ".tsr -CAfile " \
    "bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem -purpose timestampsign -attime 1486735672 -out /dev/null"
#define BCJ "bc-java/tsp/"
#define SIGNING_CERT(alg) "ts -verify -in " BCJ alg "Response.tsr -queryfile " BCJ alg "Request.tsq -CAfile " BCJ \
    "extracted/signingCert.pem -untrusted " BCJ "extracted/signingCert.pem -partial_chain -attime 1102578725"
#define IDENTRUST(time) "ts -verify -in " TOB "identrust/issue-104.tsr" HELLO "-CAfile roots/IdenTrust_Commercial_Root_CA_1.pem -attime " time
#define MOCK(time) "ts -verify -in " TOB "sigstore.mock/response-expired.tsr -data " TOB "sigstore.mock/payload " \
    CHAIN("sigstore.mock") " -attime " time
#define FDA "bc-test-data/tsp/FileDaFirmare/extracted/"
#define PKV "sigstore-go/extracted/public-key-validity."
#define GH "sigstore-go/extracted/public-good.github-tsa-chain-2023.pem"

const Row kRows[] = {
    {"T01b", ZORBEL_OK, IDENTRUST("1741683128")},
    {"T01", ZORBEL_VERIFY_CERT_EXPIRED, IDENTRUST("1800000000")},
    {"T02", ZORBEL_OK, "ts -verify -in " TOB "sigstage/response-sha256.tsr" HELLO CHAIN("sigstage")},
    {"T05", ZORBEL_OK, "ts -verify -in " TOB "sigstage/response-no-embedded-cert.tsr" HELLO CHAIN("sigstage")},
    {"T06", ZORBEL_VERIFY_SIGNATURE, "ts -verify -in " TOB "sigstage/response-invalid-signature.tsr" HELLO CHAIN("sigstage")},
    {"T07b", ZORBEL_OK, MOCK("1675209600")},
    {"T07", ZORBEL_VERIFY_CERT_EXPIRED, MOCK("1735689600")},
    {"T08", ZORBEL_OK, "ts -verify -in " TOB "test_tsa/response.tsr" HELLO CHAIN("test_tsa")},
    {"T09", ZORBEL_VERIFY_INCOMPLETE,  // its issuer is not in the data
     "ts -verify -in " TOB "test_tsa/other_response.tsr -queryfile " TOB "test_tsa/other_request.der " CHAIN("test_tsa"),
     TOB "hello.txt"},
    {"T10", ZORBEL_OK, "ts -verify -in " TOB "test_tsa/response-injected-certs.tsr" HELLO CHAIN("test_tsa")},
    {"T11d", ZORBEL_OK,
     "ts -verify -in digitorus-timestamp/respNonce.tsr -data digitorus-timestamp/data.txt -CAfile " GS
     "Primary_SHA256_CA_for_Adobe.pem -partial_chain -attime 1492583393"},
    {"T13", ZORBEL_OK,
     "ts -verify -in digitorus-timestamp/respNoCert.tsr -queryfile digitorus-timestamp/reqNoCert.tsq -CAfile " GS
     "Primary_SHA256_CA_for_Adobe.pem -untrusted " GS "TSA_for_Adobe_CDS_G2.pem -partial_chain -attime 1492583393",
     "digitorus-timestamp/data.txt"},
    {"T15", ZORBEL_OK,
     "ts -verify -token_in -in digitorus-timestamp/timeStampToken.der -digest "
     "2da82c1572ff020524e05069219975c9ba90723f1a4dd5b9722aee8ec547a2ff -CAfile roots/GlobalSign_Root_CA_-_R3.pem "
     "-attime 1485963590"},
    {"T16", ZORBEL_OK,
     "ts -verify -in github-ietf-cms/fixtureTimestampDigicert.tsr" IETF "DigiCert_Assured_ID_Root_CA.pem -attime 1525891698"},
    {"T17", ZORBEL_OK,
     "ts -verify -in github-ietf-cms/fixtureTimestampSymantecWithCerts.tsr" IETF
     "VeriSign_Universal_Root_Certification_Authority.pem -attime 1525890322"},
    {"T18", ZORBEL_VERIFY_NO_SIGNER_CERT,
     "ts -verify -in github-ietf-cms/fixtureTimestampSymantec.tsr" IETF "VeriSign_Universal_Root_Certification_Authority.pem"},
    {"T22", ZORBEL_OK,  // openssl's timestampsign purpose also judges keyUsage
     "ts -verify -token_in -in asn1crypto/cades-extracted/cades-epes-a-explicit.signatureTimeStampToken.der -data "
     "asn1crypto/cades-extracted/cades-epes-a-explicit.signature-value.bin -CAfile "
     "asn1crypto/cades-extracted/DEFENSA-EC-RAIZ.pem -untrusted asn1crypto/cades-extracted/DEFENSA-EC-WPG2016.pem "
     "-attime 1522902363", nullptr, nullptr, false},
    {"T25c", ZORBEL_OK, ATS("0.0"), "acd325362cb95d38547392ce238fab11cf26a2ee4ab36c2030633c02368e4255"},
    {"T27c", ZORBEL_OK, ATS("1.0"),
     "b868ed75d5b7a7b500e8aed2049d83eaba3058251467607db6a3256cdc00ae9025785b40d6d49574f71024cb6ba1da2182a07236a9f"
     "3c6c9ff4348163a406392"},
    {"T28", ZORBEL_OK,
     "ts -verify -token_in -in " FDA "FileDaFirmare.txt.tsd.token0.der -data " FDA "token0.imprint-input.bin -CAfile " FDA
     "InfoCert_ICEDTS01201101.pem -partial_chain -attime 1296837659"},
    {"T31c", ZORBEL_OK,
     "cms -verify -inform DER -in " BCJ "extracted/generalizedTime.token.der -CAfile " BCJ
     "extracted/nCipher_demo-dse200-01.pem -partial_chain -purpose timestampsign -attime 1110452323 -out /dev/null",
     "0000000000000000000000000000000000000000", BCJ "generalizedTime.tsr"},
    {"T32", ZORBEL_OK,
     "ts -verify -in " BCJ "v2SigningCertResponse.tsr -digest 5c53418dd3c4c02d4162ec0030430564497a86bbdb40cef27b1175bb48c5c71d "
     "-CAfile " BCJ "extracted/DRV_QC_Root_CA.pem -attime 1197368519"},
    {"T33", ZORBEL_OK, SIGNING_CERT("sha1"), "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6"},
    {"T35", ZORBEL_OK, SIGNING_CERT("md5"), "c897d1410af8f2c74fba11b1db511e9e"},
    {"T37", ZORBEL_OK,
     "ts -verify -in " PKV "signedTimestamp0.tsr -data " PKV "signature.bin -CAfile " PKV "tsa-chain.pem -untrusted " PKV
     "tsa-chain.pem -attime 1780595009"},
    {"T38", ZORBEL_VERIFY_NO_SIGNER_CERT,
     "ts -verify -in sigstore-js/github-tsa-2023-12-20.tsr -data sigstore-js/artifact-hello-world.txt -CAfile " GH
     " -untrusted " GH},
};

bool OpensslSaysOk(const Row& row) {
    const std::string folder = testdata::RealWorldPath("");
    const test::CommandRun run = test::RunShell("cd '" + folder + "' && openssl " + row.command + " 2>&1");
    return run.status == 0 && run.output.find("FAILED") == std::string::npos;
}

uint32_t OurVerdict(const Row& row) {
    std::istringstream in(row.command);
    const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    std::map<std::string, std::string> next;  // the word after each word: an option's value
    std::vector<std::string> certificates;    // of -CAfile and -untrusted, each file once
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        next[words[i]] = words[i + 1];
        if ((words[i] == "-CAfile" || words[i] == "-untrusted") &&
            std::count(certificates.begin(), certificates.end(), words[i + 1]) == 0)
            certificates.push_back(words[i + 1]);
    }
    const Bytes token = RealWorldFile(row.token != nullptr ? row.token : next["-in"]);
    const std::string imprint =
        row.imprint != nullptr ? row.imprint : next.count("-data") != 0 ? next["-data"] : next["-digest"];
    const bool isHex = imprint.find_first_not_of("0123456789abcdef") == std::string::npos;
    const ZORBELUDigestInfoEx digest = DigestLikeImprint(token, isHex ? nullptr : imprint.c_str(), imprint.c_str());
    std::vector<std::string> pems;
    for (const std::string& file : certificates) pems.push_back(test::ReadFileBytes(RealWorld(file)));
    const Store store = MakeStore(pems);
    if (next.count("-attime")) setenv("ZORBELU_TEST_NOW", next["-attime"].c_str(), 1);
    const uint32_t result = VerifyEx(token, digest, store.get());
    unsetenv("ZORBELU_TEST_NOW");
    return result;
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.id; }

class core_OpensslComparison : public testing::TestWithParam<Row> {};

TEST_P(core_OpensslComparison, Verdict) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Row& row = GetParam();
    const uint32_t ours = OurVerdict(row);
    const bool opensslOk = OpensslSaysOk(row);
    EXPECT_EQ(ours, row.ours);
    EXPECT_EQ(ours == ZORBEL_OK, row.sameVerdict ? opensslOk : !opensslOk)
        << "ours " << ours << ", openssl " << (opensslOk ? "OK" : "FAILED");
}

INSTANTIATE_TEST_SUITE_P(RealWorld, core_OpensslComparison, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& param) { return std::string(param.param.id); });

}  // namespace
}  // namespace zorbelu::coretest
