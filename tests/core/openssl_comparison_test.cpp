// Our verdict beside the openssl tool's on the real-world tokens, with the
// arguments the test data's README gives (trust anchors, intermediates and
// the time of judgement). The store gets the CAfile's and the untrusted
// certificates alike: it is the one way a caller hands certificates over,
// and each of its certificates is a trust anchor (partial chains). Rows
// whose README command judges at the current time get -attime (the token's
// time, or a time after expiry) on both sides, so no verdict depends on the
// day the test runs. Tokens openssl ts cannot parse are compared with
// openssl cms -verify, which judges signature and chain but not the imprint.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include "core/test_util.h"
#include "support/real_world_data.h"

namespace zorbelu::coretest {
namespace {

struct Row {
    const char* id;
    const char* token;
    const char* opensslArgs;  // run from the test data folder after "openssl "
    const char* digestFile;   // the data, hashed with the token's imprint algorithm; or
    const char* digestHex;    // the imprint
    std::vector<const char*> storeFiles;
    const char* attime;  // Unix seconds, or nullptr: now
    uint32_t ours;       // our expected result
    bool sameVerdict;    // false where we judge differently on purpose (see docs/core.md)
};

uint32_t AlgorithmCode(const std::string& oid) {
    const char* oids[] = {"1.3.14.3.2.26", "1.2.840.113549.2.5", "2.16.840.1.101.3.4.2.1", "2.16.840.1.101.3.4.2.2",
                          "2.16.840.1.101.3.4.2.3"};
    for (uint32_t i = 0; i < 5; ++i)
        if (oid == oids[i]) return i + 1;
    return 0;
}

bool OpensslSaysOk(const Row& row) {
    std::string output;
    const std::string command = "cd '" + RealWorld("") + "' && openssl " + row.opensslArgs + " 2>&1";
    const int status = RunCommand(command, &output);
    return status == 0 && (output.find("FAILED") == std::string::npos);
}

uint32_t OurVerdict(const Row& row) {
    const Bytes token = ReadFile(RealWorld(row.token));
    const ZORBELUDigestInfoEx imprint = TokenImprint(token);
    const ZORBELUDigestInfoEx digest =
        row.digestFile != nullptr
            ? HashWithLibrary(AlgorithmCode(imprint.algorithmOid), ReadFile(RealWorld(row.digestFile)))
            : DigestEx(imprint.algorithmOid, FromHex(row.digestHex));
    ZORBELCertStore* store = ZORBELCreateCertStore();
    std::vector<Bytes> files;
    files.reserve(row.storeFiles.size());
    for (const char* file : row.storeFiles) {
        files.push_back(ReadFile(RealWorld(file)));
        ZORBELUCertBlob item{files.back().data(), static_cast<uint32_t>(files.back().size()), ZORBELU_ENCODING_DETECT};
        EXPECT_EQ(ZORBELAddCACert(store, &item), ZORBEL_OK) << file;
    }
    if (row.attime != nullptr) setenv("ZORBELU_TEST_NOW", row.attime, 1);
    const ZORBELUBlob blob = Blob(token);
    const uint32_t result = ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, store);
    unsetenv("ZORBELU_TEST_NOW");
    ZORBELFreeCertStore(store);
    return result;
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.id; }

class core_OpensslComparison : public testing::TestWithParam<Row> {};

TEST_P(core_OpensslComparison, Verdict) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Row& row = GetParam();
    const uint32_t ours = OurVerdict(row);
    const bool opensslOk = OpensslSaysOk(row);
    EXPECT_EQ(ours, row.ours) << row.id;
    EXPECT_EQ(ours == ZORBEL_OK, row.sameVerdict ? opensslOk : !opensslOk)
        << row.id << ": ours " << ours << ", openssl " << (opensslOk ? "OK" : "FAILED");
}

constexpr const char* kHello = "trailofbits-rfc3161-client/hello.txt";
constexpr const char* kHelloNl = "github-ietf-cms/hello-nl.txt";
constexpr const char* kSigstage = "trailofbits-rfc3161-client/sigstage/ts_chain.pem";
constexpr const char* kTestTsa = "trailofbits-rfc3161-client/test_tsa/ts_chain.pem";
constexpr const char* kAdobeCa = "digitorus-timestamp/extracted/GlobalSign_Primary_SHA256_CA_for_Adobe.pem";
constexpr const char* kBcLeaf = "bc-java/tsp/extracted/signingCert.pem";

const Row kRows[] = {
    {"T01b", "trailofbits-rfc3161-client/identrust/issue-104.tsr",
     "ts -verify -in trailofbits-rfc3161-client/identrust/issue-104.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile roots/IdenTrust_Commercial_Root_CA_1.pem -attime 1741683128",
     kHello, nullptr, {"roots/IdenTrust_Commercial_Root_CA_1.pem"}, "1741683128", ZORBEL_OK, true},
    {"T01", "trailofbits-rfc3161-client/identrust/issue-104.tsr",
     "ts -verify -in trailofbits-rfc3161-client/identrust/issue-104.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile roots/IdenTrust_Commercial_Root_CA_1.pem -attime 1800000000",
     kHello, nullptr, {"roots/IdenTrust_Commercial_Root_CA_1.pem"}, "1800000000", ZORBEL_VERIFY_CERT_EXPIRED, true},
    {"T02", "trailofbits-rfc3161-client/sigstage/response-sha256.tsr",
     "ts -verify -in trailofbits-rfc3161-client/sigstage/response-sha256.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile trailofbits-rfc3161-client/sigstage/ts_chain.pem -untrusted trailofbits-rfc3161-client/sigstage/ts_chain.pem",
     kHello, nullptr, {kSigstage}, nullptr, ZORBEL_OK, true},
    {"T05", "trailofbits-rfc3161-client/sigstage/response-no-embedded-cert.tsr",
     "ts -verify -in trailofbits-rfc3161-client/sigstage/response-no-embedded-cert.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/sigstage/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/sigstage/ts_chain.pem",
     kHello, nullptr, {kSigstage}, nullptr, ZORBEL_OK, true},
    {"T06", "trailofbits-rfc3161-client/sigstage/response-invalid-signature.tsr",
     "ts -verify -in trailofbits-rfc3161-client/sigstage/response-invalid-signature.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/sigstage/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/sigstage/ts_chain.pem",
     kHello, nullptr, {kSigstage}, nullptr, ZORBEL_VERIFY_SIGNATURE, true},
    {"T07b", "trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr",
     "ts -verify -in trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr -data "
     "trailofbits-rfc3161-client/sigstore.mock/payload -CAfile trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem "
     "-untrusted trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem -attime 1675209600",
     "trailofbits-rfc3161-client/sigstore.mock/payload", nullptr,
     {"trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem"}, "1675209600", ZORBEL_OK, true},
    {"T07", "trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr",
     "ts -verify -in trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr -data "
     "trailofbits-rfc3161-client/sigstore.mock/payload -CAfile trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem "
     "-untrusted trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem -attime 1735689600",
     "trailofbits-rfc3161-client/sigstore.mock/payload", nullptr,
     {"trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem"}, "1735689600", ZORBEL_VERIFY_CERT_EXPIRED, true},
    {"T08", "trailofbits-rfc3161-client/test_tsa/response.tsr",
     "ts -verify -in trailofbits-rfc3161-client/test_tsa/response.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile trailofbits-rfc3161-client/test_tsa/ts_chain.pem -untrusted trailofbits-rfc3161-client/test_tsa/ts_chain.pem",
     kHello, nullptr, {kTestTsa}, nullptr, ZORBEL_OK, true},
    {"T09", "trailofbits-rfc3161-client/test_tsa/other_response.tsr",
     "ts -verify -in trailofbits-rfc3161-client/test_tsa/other_response.tsr -queryfile "
     "trailofbits-rfc3161-client/test_tsa/other_request.der -CAfile trailofbits-rfc3161-client/test_tsa/ts_chain.pem "
     "-untrusted trailofbits-rfc3161-client/test_tsa/ts_chain.pem",
     kHello, nullptr, {kTestTsa}, nullptr, ZORBEL_VERIFY_INCOMPLETE, true},  // its issuer is not in the data
    {"T10", "trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr",
     "ts -verify -in trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/test_tsa/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/test_tsa/ts_chain.pem",
     kHello, nullptr, {kTestTsa}, nullptr, ZORBEL_OK, true},
    {"T11d", "digitorus-timestamp/respNonce.tsr",
     "ts -verify -in digitorus-timestamp/respNonce.tsr -data digitorus-timestamp/data.txt -CAfile "
     "digitorus-timestamp/extracted/GlobalSign_Primary_SHA256_CA_for_Adobe.pem -partial_chain -attime 1492583393",
     "digitorus-timestamp/data.txt", nullptr, {kAdobeCa}, "1492583393", ZORBEL_OK, true},
    {"T13", "digitorus-timestamp/respNoCert.tsr",
     "ts -verify -in digitorus-timestamp/respNoCert.tsr -queryfile digitorus-timestamp/reqNoCert.tsq -CAfile "
     "digitorus-timestamp/extracted/GlobalSign_Primary_SHA256_CA_for_Adobe.pem -untrusted "
     "digitorus-timestamp/extracted/GlobalSign_TSA_for_Adobe_CDS_G2.pem -partial_chain -attime 1492583393",
     "digitorus-timestamp/data.txt", nullptr,
     {kAdobeCa, "digitorus-timestamp/extracted/GlobalSign_TSA_for_Adobe_CDS_G2.pem"}, "1492583393", ZORBEL_OK, true},
    {"T15", "digitorus-timestamp/timeStampToken.der",
     "ts -verify -token_in -in digitorus-timestamp/timeStampToken.der -digest "
     "2da82c1572ff020524e05069219975c9ba90723f1a4dd5b9722aee8ec547a2ff -CAfile roots/GlobalSign_Root_CA_-_R3.pem "
     "-attime 1485963590",
     nullptr, "2da82c1572ff020524e05069219975c9ba90723f1a4dd5b9722aee8ec547a2ff", {"roots/GlobalSign_Root_CA_-_R3.pem"},
     "1485963590", ZORBEL_OK, true},
    {"T16", "github-ietf-cms/fixtureTimestampDigicert.tsr",
     "ts -verify -in github-ietf-cms/fixtureTimestampDigicert.tsr -data github-ietf-cms/hello-nl.txt -CAfile "
     "roots/DigiCert_Assured_ID_Root_CA.pem -attime 1525891698",
     kHelloNl, nullptr, {"roots/DigiCert_Assured_ID_Root_CA.pem"}, "1525891698", ZORBEL_OK, true},
    {"T17", "github-ietf-cms/fixtureTimestampSymantecWithCerts.tsr",
     "ts -verify -in github-ietf-cms/fixtureTimestampSymantecWithCerts.tsr -data github-ietf-cms/hello-nl.txt -CAfile "
     "roots/VeriSign_Universal_Root_Certification_Authority.pem -attime 1525890322",
     kHelloNl, nullptr, {"roots/VeriSign_Universal_Root_Certification_Authority.pem"}, "1525890322", ZORBEL_OK, true},
    {"T18", "github-ietf-cms/fixtureTimestampSymantec.tsr",
     "ts -verify -in github-ietf-cms/fixtureTimestampSymantec.tsr -data github-ietf-cms/hello-nl.txt -CAfile "
     "roots/VeriSign_Universal_Root_Certification_Authority.pem",
     kHelloNl, nullptr, {"roots/VeriSign_Universal_Root_Certification_Authority.pem"}, nullptr,
     ZORBEL_VERIFY_NO_SIGNER_CERT, true},
    {"T22", "asn1crypto/cades-extracted/cades-epes-a-explicit.signatureTimeStampToken.der",
     "ts -verify -token_in -in asn1crypto/cades-extracted/cades-epes-a-explicit.signatureTimeStampToken.der -data "
     "asn1crypto/cades-extracted/cades-epes-a-explicit.signature-value.bin -CAfile "
     "asn1crypto/cades-extracted/DEFENSA-EC-RAIZ.pem -untrusted asn1crypto/cades-extracted/DEFENSA-EC-WPG2016.pem "
     "-attime 1522902363",
     "asn1crypto/cades-extracted/cades-epes-a-explicit.signature-value.bin", nullptr,
     {"asn1crypto/cades-extracted/DEFENSA-EC-RAIZ.pem", "asn1crypto/cades-extracted/DEFENSA-EC-WPG2016.pem"},
     "1522902363", ZORBEL_OK, false},  // openssl's timestampsign purpose also judges keyUsage
    {"T25c", "bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr",
     "cms -verify -inform DER -in bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr -CAfile "
     "bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem -purpose timestampsign -attime 1486735672 "
     "-out /dev/null",
     nullptr, "acd325362cb95d38547392ce238fab11cf26a2ee4ab36c2030633c02368e4255",
     {"bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem"}, "1486735672", ZORBEL_OK, true},
    {"T27c", "bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.1.0.tsr",
     "cms -verify -inform DER -in bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.1.0.tsr -CAfile "
     "bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem -purpose timestampsign -attime 1486735672 "
     "-out /dev/null",
     nullptr,
     "b868ed75d5b7a7b500e8aed2049d83eaba3058251467607db6a3256cdc00ae9025785b40d6d49574f71024cb6ba1da2182a07236a9f3c6c9ff"
     "4348163a406392",
     {"bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem"}, "1486735672", ZORBEL_OK, true},
    {"T28", "bc-test-data/tsp/FileDaFirmare/extracted/FileDaFirmare.txt.tsd.token0.der",
     "ts -verify -token_in -in bc-test-data/tsp/FileDaFirmare/extracted/FileDaFirmare.txt.tsd.token0.der -data "
     "bc-test-data/tsp/FileDaFirmare/extracted/token0.imprint-input.bin -CAfile "
     "bc-test-data/tsp/FileDaFirmare/extracted/InfoCert_ICEDTS01201101.pem -partial_chain -attime 1296837659",
     "bc-test-data/tsp/FileDaFirmare/extracted/token0.imprint-input.bin", nullptr,
     {"bc-test-data/tsp/FileDaFirmare/extracted/InfoCert_ICEDTS01201101.pem"}, "1296837659", ZORBEL_OK, true},
    {"T31c", "bc-java/tsp/generalizedTime.tsr",
     "cms -verify -inform DER -in bc-java/tsp/extracted/generalizedTime.token.der -CAfile "
     "bc-java/tsp/extracted/nCipher_demo-dse200-01.pem -partial_chain -purpose timestampsign -attime 1110452323 "
     "-out /dev/null",
     nullptr, "0000000000000000000000000000000000000000", {"bc-java/tsp/extracted/nCipher_demo-dse200-01.pem"},
     "1110452323", ZORBEL_OK, true},
    {"T32", "bc-java/tsp/v2SigningCertResponse.tsr",
     "ts -verify -in bc-java/tsp/v2SigningCertResponse.tsr -digest "
     "5c53418dd3c4c02d4162ec0030430564497a86bbdb40cef27b1175bb48c5c71d -CAfile bc-java/tsp/extracted/DRV_QC_Root_CA.pem "
     "-attime 1197368519",
     nullptr, "5c53418dd3c4c02d4162ec0030430564497a86bbdb40cef27b1175bb48c5c71d",
     {"bc-java/tsp/extracted/DRV_QC_Root_CA.pem"}, "1197368519", ZORBEL_OK, true},
    {"T33", "bc-java/tsp/sha1Response.tsr",
     "ts -verify -in bc-java/tsp/sha1Response.tsr -queryfile bc-java/tsp/sha1Request.tsq -CAfile "
     "bc-java/tsp/extracted/signingCert.pem -untrusted bc-java/tsp/extracted/signingCert.pem -partial_chain "
     "-attime 1102578725",
     nullptr, "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6", {kBcLeaf}, "1102578725", ZORBEL_OK, true},
    {"T35", "bc-java/tsp/md5Response.tsr",
     "ts -verify -in bc-java/tsp/md5Response.tsr -queryfile bc-java/tsp/md5Request.tsq -CAfile "
     "bc-java/tsp/extracted/signingCert.pem -untrusted bc-java/tsp/extracted/signingCert.pem -partial_chain "
     "-attime 1102578725",
     nullptr, "c897d1410af8f2c74fba11b1db511e9e", {kBcLeaf}, "1102578725", ZORBEL_OK, true},
    {"T37", "sigstore-go/extracted/public-key-validity.signedTimestamp0.tsr",
     "ts -verify -in sigstore-go/extracted/public-key-validity.signedTimestamp0.tsr -data "
     "sigstore-go/extracted/public-key-validity.signature.bin -CAfile "
     "sigstore-go/extracted/public-key-validity.tsa-chain.pem -untrusted "
     "sigstore-go/extracted/public-key-validity.tsa-chain.pem -attime 1780595009",
     "sigstore-go/extracted/public-key-validity.signature.bin", nullptr,
     {"sigstore-go/extracted/public-key-validity.tsa-chain.pem"}, "1780595009", ZORBEL_OK, true},
    {"T38", "sigstore-js/github-tsa-2023-12-20.tsr",
     "ts -verify -in sigstore-js/github-tsa-2023-12-20.tsr -data sigstore-js/artifact-hello-world.txt -CAfile "
     "sigstore-go/extracted/public-good.github-tsa-chain-2023.pem -untrusted "
     "sigstore-go/extracted/public-good.github-tsa-chain-2023.pem",
     "sigstore-js/artifact-hello-world.txt", nullptr, {"sigstore-go/extracted/public-good.github-tsa-chain-2023.pem"},
     nullptr, ZORBEL_VERIFY_NO_SIGNER_CERT, true},
};

INSTANTIATE_TEST_SUITE_P(RealWorld, core_OpensslComparison, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& param) { return std::string(param.param.id); });

}  // namespace
}  // namespace zorbelu::coretest
