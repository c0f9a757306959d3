// Real tokens of public and test TSAs: their fields, their signer
// certificate and their integrity, as the README of the test data gives them.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>

#include "core/test_util.h"
#include "support/real_world_data.h"

namespace zorbelu::coretest {
namespace {

ZORBELTimeStampInfo Info(const std::string& file, uint32_t* result = nullptr) {
    const Bytes token = ReadFile(RealWorld(file));
    const ZORBELUBlob blob = Blob(token);
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    const uint32_t rc = ZORBELGetTimeStampInfoEx(&blob, &info);
    if (result != nullptr) *result = rc;
    return info;
}

TEST(core_RealWorldInfo, Sha1ResponseHasEveryField) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    uint32_t rc = 0;
    const ZORBELTimeStampInfo info = Info("bc-java/tsp/sha1Response.tsr", &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    EXPECT_EQ(info.version, 1);
    EXPECT_STREQ(info.policyOid, "1.2.3.4.1");
    EXPECT_STREQ(info.hashAlgorithmOid, "1.3.14.3.2.26");
    EXPECT_EQ(ToHex(info.hashValue, info.hashLength), "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6");
    EXPECT_EQ(ToHex(info.serialNumber, info.serialNumberLength), "04");
    EXPECT_STREQ(info.genTime, "20041209075205Z");
    EXPECT_EQ(info.accuracySeconds, 1);
    EXPECT_EQ(info.accuracyMillis, 500);
    EXPECT_EQ(info.accuracyMicros, 100);
    EXPECT_EQ(info.ordering, 1);
    EXPECT_STREQ(info.tsaName, "CN=Eric H. Echidna, emailAddress=eric@bouncycastle.org, O=Bouncy Castle, C=AU");
}

struct InfoCase {
    const char* file;
    const char* genTime;
    const char* serialHex;  // nullptr: not checked
    const char* tsaName;  // nullptr: not checked
    int32_t seconds, millis, micros, ordering;
};

class core_RealWorldInfoTable : public testing::TestWithParam<InfoCase> {};

TEST_P(core_RealWorldInfoTable, FieldsAsEncoded) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const InfoCase& c = GetParam();
    uint32_t rc = 0;
    const ZORBELTimeStampInfo info = Info(c.file, &rc);
    ASSERT_EQ(rc, ZORBEL_OK) << c.file;
    EXPECT_STREQ(info.genTime, c.genTime);
    if (c.serialHex != nullptr) {
        EXPECT_EQ(ToHex(info.serialNumber, info.serialNumberLength), c.serialHex);
    }
    if (c.tsaName != nullptr) {
        EXPECT_STREQ(info.tsaName, c.tsaName);
    }
    EXPECT_EQ(info.accuracySeconds, c.seconds);
    EXPECT_EQ(info.accuracyMillis, c.millis);
    EXPECT_EQ(info.accuracyMicros, c.micros);
    EXPECT_EQ(info.ordering, c.ordering);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, core_RealWorldInfoTable,
    testing::Values(
        // Negative serial: the content octets as encoded (two's complement); no tsa field.
        InfoCase{"trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr", "20230201000000Z", "deadbeef", "",
                 1, 0, 0, 0},
        // tsa is a directoryName holding an empty Name.
        InfoCase{"sigstore-go/extracted/public-key-validity.signedTimestamp0.tsr", "20260604174329Z", nullptr, "", 0,
                 0, 0, 0},
        // BER with indefinite lengths, a 17-octet serial with a leading zero, genTime with a fraction.
        InfoCase{"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr", "20170210140752.5Z",
                 "00802b413b0000015a2859fdd9fb2b359b", nullptr, 0, 100, 0, 0},
        // Milliseconds in genTime, ordering TRUE, an attribute certificate in the set.
        InfoCase{"bc-java/tsp/generalizedTime.tsr", "20050310105843.933Z", nullptr, nullptr, 0, 500, 0, 1},
        // All three accuracy parts.
        InfoCase{"asn1crypto/cades-extracted/cades-epes-a-explicit.signatureTimeStampToken.der",
                 "20180405042603.228Z", nullptr, nullptr, 1, 1, 2, 0}),
    [](const testing::TestParamInfo<InfoCase>& param) { return "case" + std::to_string(param.index); });

TEST(core_RealWorldInfo, NonGrantedResponseIsNoToken) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    for (const char* file : {"digitorus-timestamp/respRejection.tsr", "bc-java/tsp/unacceptablePolicy.tsr"}) {
        uint32_t rc = 0;
        Info(file, &rc);
        EXPECT_EQ(rc, ZORBEL_VERIFY_STRUCTURE) << file;
    }
}

TEST(core_RealWorldInfo, WrongRecordSizeIsRefused) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = ReadFile(RealWorld("bc-java/tsp/sha1Response.tsr"));
    const ZORBELUBlob blob = Blob(token);
    ZORBELTimeStampInfo info{};
    info.size = 1040;
    EXPECT_EQ(ZORBELGetTimeStampInfoEx(&blob, &info), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELGetTimeStampInfoEx(&blob, nullptr), ZORBEL_ERR_PARAM);
}

// ---- TSA certificate --------------------------------------------------------

Bytes TsaCertificate(const std::string& file, uint32_t* result) {
    const Bytes token = ReadFile(RealWorld(file));
    const ZORBELUBlob blob = Blob(token);
    Bytes buffer(10000);
    ZORBELUCertBlob out{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    *result = ZORBELGetTSACert(&blob, &out);
    if (*result == ZORBEL_OK) {
        EXPECT_EQ(out.encoding, ZORBELU_ENCODING_DER);
    }
    buffer.resize(*result == ZORBEL_OK ? out.length : 0);
    return buffer;
}

std::string SubjectOf(const Bytes& der) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (cert == nullptr) return "<not a certificate>";
    char text[512];
    X509_NAME_oneline(X509_get_subject_name(cert), text, sizeof text);
    X509_free(cert);
    return text;
}

TEST(core_RealWorldTsaCert, SpoofedBagGivesTheRealSigner) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    uint32_t rc = 0;
    const Bytes fromSpoofed = TsaCertificate("trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr", &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    const Bytes fromClean = TsaCertificate("trailofbits-rfc3161-client/test_tsa/response.tsr", &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    EXPECT_EQ(fromSpoofed, fromClean);
    EXPECT_EQ(SubjectOf(fromSpoofed).find("Spoofed"), std::string::npos) << SubjectOf(fromSpoofed);
}

struct SignerCase {
    const char* token;
    const char* expectedPem;  // the signer's certificate as the test data holds it
};

class core_RealWorldSigner : public testing::TestWithParam<SignerCase> {};

TEST_P(core_RealWorldSigner, IsTheCertificateThatSigned) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    uint32_t rc = 0;
    const Bytes der = TsaCertificate(GetParam().token, &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    const Bytes pem = ReadFile(RealWorld(GetParam().expectedPem));
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* expected = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ASSERT_NE(expected, nullptr);
    unsigned char* expectedDer = nullptr;
    const int size = i2d_X509(expected, &expectedDer);
    EXPECT_EQ(der, Bytes(expectedDer, expectedDer + size));
    OPENSSL_free(expectedDer);
    X509_free(expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, core_RealWorldSigner,
    testing::Values(
        // Two certificates in the bag, the TSA's CA among them.
        SignerCase{"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr",
                   "bc-test-data/tsp/2Chains3ATS/extracted/exceet_TSA_04.pem"},
        SignerCase{"bc-java/tsp/v2SigningCertResponse.tsr", "bc-java/tsp/extracted/DRV_QC_Root_TSP.pem"},
        // The attribute certificate in the bag is passed over.
        SignerCase{"bc-java/tsp/generalizedTime.tsr", "bc-java/tsp/extracted/nCipher_demo-dse200-01.pem"},
        SignerCase{"digitorus-timestamp/respNonce.tsr", "digitorus-timestamp/extracted/GlobalSign_TSA_for_Adobe_CDS_G2.pem"}));

TEST(core_RealWorldTsaCert, TokensWithoutCertificatesAnswer1700) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    for (const char* file : {"digitorus-timestamp/respNoCert.tsr", "sigstore-js/github-tsa-2023-12-20.tsr",
                             "bc-java/tsp/md5Response.tsr"}) {
        uint32_t rc = 0;
        TsaCertificate(file, &rc);
        EXPECT_EQ(rc, ZORBEL_ERR_NO_TSA_CERT) << file;
    }
}

TEST(core_RealWorldTsaCert, SmallBufferTellsTheSizeNeeded) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = ReadFile(RealWorld("digitorus-timestamp/respNonce.tsr"));
    const ZORBELUBlob blob = Blob(token);
    ZORBELUCertBlob query{nullptr, 0, 0};
    ASSERT_EQ(ZORBELGetTSACert(&blob, &query), ZORBEL_ERR_BUFFER_TOO_SMALL);
    Bytes buffer(query.length);
    ZORBELUCertBlob tooSmall{buffer.data(), query.length - 1, 0};
    EXPECT_EQ(ZORBELGetTSACert(&blob, &tooSmall), ZORBEL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(tooSmall.length, query.length);
    ZORBELUCertBlob exact{buffer.data(), query.length, 0};
    EXPECT_EQ(ZORBELGetTSACert(&blob, &exact), ZORBEL_OK);
    EXPECT_EQ(exact.length, query.length);
}

// ---- Integrity (no store) ----------------------------------------------------
// Tokens whose whole verdict openssl_comparison_test already checks are not repeated here.

struct IntegrityCase {
    const char* token;
    const char* dataFile;   // hashed with the token's imprint algorithm, or
    const char* imprintHex; // the imprint as the README gives it
    uint32_t expected;
};

class core_RealWorldIntegrity : public testing::TestWithParam<IntegrityCase> {};

uint32_t AlgorithmCode(const char* oid) {
    const char* oids[] = {"1.3.14.3.2.26", "1.2.840.113549.2.5", "2.16.840.1.101.3.4.2.1", "2.16.840.1.101.3.4.2.2",
                          "2.16.840.1.101.3.4.2.3"};
    for (uint32_t i = 0; i < 5; ++i)
        if (std::strcmp(oids[i], oid) == 0) return i + 1;
    return 0;
}

TEST_P(core_RealWorldIntegrity, VerdictAgainstTheImprint) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const IntegrityCase& c = GetParam();
    const Bytes token = ReadFile(RealWorld(c.token));
    const ZORBELUDigestInfoEx imprint = TokenImprint(token);
    const ZORBELUDigestInfoEx digest =
        c.dataFile != nullptr ? HashWithLibrary(AlgorithmCode(imprint.algorithmOid), ReadFile(RealWorld(c.dataFile)))
                              : DigestEx(imprint.algorithmOid, FromHex(c.imprintHex));
    const ZORBELUBlob blob = Blob(token);
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), c.expected) << c.token;
}

constexpr const char* kHello = "trailofbits-rfc3161-client/hello.txt";
constexpr const char* kHelloNl = "github-ietf-cms/hello-nl.txt";

INSTANTIATE_TEST_SUITE_P(
    Tokens, core_RealWorldIntegrity,
    testing::Values(
        IntegrityCase{"digitorus-timestamp/respNoNonce.tsr", "digitorus-timestamp/data.txt", nullptr, ZORBEL_OK},
        IntegrityCase{"digitorus-timestamp/respNoCert.tsr", "digitorus-timestamp/data.txt", nullptr,
                      ZORBEL_VERIFY_NO_SIGNER_CERT},
        IntegrityCase{"github-ietf-cms/fixtureTimestampSymantec.tsr", kHelloNl, nullptr, ZORBEL_VERIFY_NO_SIGNER_CERT},
        IntegrityCase{"github-ietf-cms/fixtureTimestampComodo.tsr", kHelloNl, nullptr, ZORBEL_VERIFY_NO_SIGNER_CERT},
        IntegrityCase{"github-ietf-cms/fixtureTimestampGlobalSign.tsr", kHelloNl, nullptr, ZORBEL_VERIFY_NO_SIGNER_CERT},
        IntegrityCase{"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.1.tsr", nullptr,
                      "28dd2b11a6679c12b1db41fc6258f2dcdb4b8e9257d82e2cf3333b701ab11a75", ZORBEL_OK},
        IntegrityCase{"bc-test-data/tsp/FileDaFirmare/extracted/FileDaFirmare.txt.tsd.token1.der",
                      "bc-test-data/tsp/FileDaFirmare/extracted/token1.imprint-input.bin", nullptr, ZORBEL_OK},
        IntegrityCase{"bc-test-data/tsp/FileDaFirmare/extracted/FileDaFirmare.txt.tsd.token2.der",
                      "bc-test-data/tsp/FileDaFirmare/extracted/token2.imprint-input.bin", nullptr, ZORBEL_OK},
        IntegrityCase{"asn1crypto/cades-extracted/cades-epes-a-explicit.escTimeStamp.der", nullptr,
                      "631a49adcf2ae573942611fa4a3c1132eca5ed70b16d735b468c61571fb8bb7e", ZORBEL_OK},
        IntegrityCase{"asn1crypto/cades-extracted/cades-epes-a-explicit.archiveTimeStampV2.der", nullptr,
                      "cab26c78310a390f1ac7eb53c6932b31d3c98cfc2d3c22239b3da23f2168f1d4", ZORBEL_OK},
        IntegrityCase{"sigstore-js/github-tsa-2023-12-20.tsr", "sigstore-js/artifact-hello-world.txt", nullptr,
                      ZORBEL_VERIFY_NO_SIGNER_CERT},
        IntegrityCase{"trailofbits-rfc3161-client/sigstage/response-sha384.tsr", kHello, nullptr, ZORBEL_OK},
        IntegrityCase{"trailofbits-rfc3161-client/sigstage/response-sha512.tsr", kHello, nullptr, ZORBEL_OK},
        IntegrityCase{"trailofbits-rfc3161-client/sigstage/response-invalid-signature.tsr", kHello, nullptr,
                      ZORBEL_VERIFY_SIGNATURE},
        IntegrityCase{"bc-java/tsp/sha1Response.tsr", nullptr, "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6",
                      ZORBEL_VERIFY_NO_SIGNER_CERT}),
    [](const testing::TestParamInfo<IntegrityCase>& param) { return "case" + std::to_string(param.index); });

TEST(core_RealWorldIntegrity, WrongDigestAndAlgorithmHaveTheirOwnCodes) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = ReadFile(RealWorld("trailofbits-rfc3161-client/test_tsa/response.tsr"));
    const ZORBELUBlob blob = Blob(token);
    ZORBELUDigestInfoEx digest = HashWithLibrary(ZORBEL_HASH_SHA512, ReadFile(RealWorld(kHello)));
    digest.digest[0] ^= 1;
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), ZORBEL_VERIFY_IMPRINT_VALUE);
    const ZORBELUDigestInfoEx sha256 = HashWithLibrary(ZORBEL_HASH_SHA256, ReadFile(RealWorld(kHello)));
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &sha256, nullptr, nullptr), ZORBEL_VERIFY_IMPRINT_ALGORITHM);
}

// The signer's certificate may come from the store when the token has none.
TEST(core_RealWorldIntegrity, SignerFromTheStoreWhenTheTokenHasNone) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = ReadFile(RealWorld("bc-java/tsp/md5Response.tsr"));
    const ZORBELUBlob blob = Blob(token);
    const ZORBELUDigestInfoEx digest = DigestEx("1.2.840.113549.2.5", FromHex("c897d1410af8f2c74fba11b1db511e9e"));
    ZORBELCertStore* store = ZORBELCreateCertStore();
    Bytes leaf = ReadFile(RealWorld("bc-java/tsp/signingCert.der"));
    ZORBELUCertBlob item{leaf.data(), static_cast<uint32_t>(leaf.size()), ZORBELU_ENCODING_DER};
    ASSERT_EQ(ZORBELAddCACert(store, &item), ZORBEL_OK);
    setenv("ZORBELU_TEST_NOW", "1102578725", 1);
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, store), ZORBEL_OK);
    unsetenv("ZORBELU_TEST_NOW");
    ZORBELFreeCertStore(store);
}

}  // namespace
}  // namespace zorbelu::coretest
