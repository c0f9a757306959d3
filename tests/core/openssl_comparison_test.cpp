// Our verdict beside the openssl tool's on the real-world tokens, with the
// arguments the test data's README gives (trust anchors, intermediates and
// the time of judgement). Our call gets the same token, data or digest,
// certificates and time, read from the command. The store gets the CAfile's
// and the untrusted certificates alike: it is the one way a caller hands
// certificates over, and each of its certificates is a trust anchor (partial
// chains). Rows whose README command judges at the current time get -attime
// on both sides, so no verdict depends on the day the test runs. Tokens
// openssl ts cannot parse are compared with openssl cms -verify, which judges
// signature and chain but not the imprint.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <sstream>

#include "core/test_util.h"

namespace zorbelu::coretest {
namespace {

struct Row {
    const char* id;
    uint32_t ours;            // our expected result
    const char* command;      // run from the test data folder after "openssl "
    const char* imprint = nullptr;  // the data file or the imprint's hex, where the command does not give it
    const char* token = nullptr;    // where the command reads another form of the token
    bool sameVerdict = true;  // false where we judge differently on purpose (see docs/core.md)
};

const Row kRows[] = {
    {"T01b", ZORBEL_OK,
     "ts -verify -in trailofbits-rfc3161-client/identrust/issue-104.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile roots/IdenTrust_Commercial_Root_CA_1.pem -attime 1741683128"},
    {"T01", ZORBEL_VERIFY_CERT_EXPIRED,
     "ts -verify -in trailofbits-rfc3161-client/identrust/issue-104.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile roots/IdenTrust_Commercial_Root_CA_1.pem -attime 1800000000"},
    {"T02", ZORBEL_OK,
     "ts -verify -in trailofbits-rfc3161-client/sigstage/response-sha256.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/sigstage/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/sigstage/ts_chain.pem"},
    {"T05", ZORBEL_OK,
     "ts -verify -in trailofbits-rfc3161-client/sigstage/response-no-embedded-cert.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/sigstage/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/sigstage/ts_chain.pem"},
    {"T06", ZORBEL_VERIFY_SIGNATURE,
     "ts -verify -in trailofbits-rfc3161-client/sigstage/response-invalid-signature.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/sigstage/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/sigstage/ts_chain.pem"},
    {"T07b", ZORBEL_OK,
     "ts -verify -in trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr -data "
     "trailofbits-rfc3161-client/sigstore.mock/payload -CAfile trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem "
     "-untrusted trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem -attime 1675209600"},
    {"T07", ZORBEL_VERIFY_CERT_EXPIRED,
     "ts -verify -in trailofbits-rfc3161-client/sigstore.mock/response-expired.tsr -data "
     "trailofbits-rfc3161-client/sigstore.mock/payload -CAfile trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem "
     "-untrusted trailofbits-rfc3161-client/sigstore.mock/ts_chain.pem -attime 1735689600"},
    {"T08", ZORBEL_OK,
     "ts -verify -in trailofbits-rfc3161-client/test_tsa/response.tsr -data trailofbits-rfc3161-client/hello.txt "
     "-CAfile trailofbits-rfc3161-client/test_tsa/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/test_tsa/ts_chain.pem"},
    {"T09", ZORBEL_VERIFY_INCOMPLETE,  // its issuer is not in the data
     "ts -verify -in trailofbits-rfc3161-client/test_tsa/other_response.tsr -queryfile "
     "trailofbits-rfc3161-client/test_tsa/other_request.der -CAfile trailofbits-rfc3161-client/test_tsa/ts_chain.pem "
     "-untrusted trailofbits-rfc3161-client/test_tsa/ts_chain.pem", "trailofbits-rfc3161-client/hello.txt"},
    {"T10", ZORBEL_OK,
     "ts -verify -in trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr -data "
     "trailofbits-rfc3161-client/hello.txt -CAfile trailofbits-rfc3161-client/test_tsa/ts_chain.pem -untrusted "
     "trailofbits-rfc3161-client/test_tsa/ts_chain.pem"},
    {"T11d", ZORBEL_OK,
     "ts -verify -in digitorus-timestamp/respNonce.tsr -data digitorus-timestamp/data.txt -CAfile "
     "digitorus-timestamp/extracted/GlobalSign_Primary_SHA256_CA_for_Adobe.pem -partial_chain -attime 1492583393"},
    {"T13", ZORBEL_OK,
     "ts -verify -in digitorus-timestamp/respNoCert.tsr -queryfile digitorus-timestamp/reqNoCert.tsq -CAfile "
     "digitorus-timestamp/extracted/GlobalSign_Primary_SHA256_CA_for_Adobe.pem -untrusted "
     "digitorus-timestamp/extracted/GlobalSign_TSA_for_Adobe_CDS_G2.pem -partial_chain -attime 1492583393",
     "digitorus-timestamp/data.txt"},
    {"T15", ZORBEL_OK,
     "ts -verify -token_in -in digitorus-timestamp/timeStampToken.der -digest "
     "2da82c1572ff020524e05069219975c9ba90723f1a4dd5b9722aee8ec547a2ff -CAfile roots/GlobalSign_Root_CA_-_R3.pem "
     "-attime 1485963590"},
    {"T16", ZORBEL_OK,
     "ts -verify -in github-ietf-cms/fixtureTimestampDigicert.tsr -data github-ietf-cms/hello-nl.txt -CAfile "
     "roots/DigiCert_Assured_ID_Root_CA.pem -attime 1525891698"},
    {"T17", ZORBEL_OK,
     "ts -verify -in github-ietf-cms/fixtureTimestampSymantecWithCerts.tsr -data github-ietf-cms/hello-nl.txt "
     "-CAfile roots/VeriSign_Universal_Root_Certification_Authority.pem -attime 1525890322"},
    {"T18", ZORBEL_VERIFY_NO_SIGNER_CERT,
     "ts -verify -in github-ietf-cms/fixtureTimestampSymantec.tsr -data github-ietf-cms/hello-nl.txt -CAfile "
     "roots/VeriSign_Universal_Root_Certification_Authority.pem"},
    {"T22", ZORBEL_OK,  // openssl's timestampsign purpose also judges keyUsage
     "ts -verify -token_in -in asn1crypto/cades-extracted/cades-epes-a-explicit.signatureTimeStampToken.der -data "
     "asn1crypto/cades-extracted/cades-epes-a-explicit.signature-value.bin -CAfile "
     "asn1crypto/cades-extracted/DEFENSA-EC-RAIZ.pem -untrusted asn1crypto/cades-extracted/DEFENSA-EC-WPG2016.pem "
     "-attime 1522902363", nullptr, nullptr, false},
    {"T25c", ZORBEL_OK,
     "cms -verify -inform DER -in bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr -CAfile "
     "bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem -purpose timestampsign -attime 1486735672 "
     "-out /dev/null", "acd325362cb95d38547392ce238fab11cf26a2ee4ab36c2030633c02368e4255"},
    {"T27c", ZORBEL_OK,
     "cms -verify -inform DER -in bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.1.0.tsr -CAfile "
     "bc-test-data/tsp/2Chains3ATS/extracted/exceet_trustcenter_CA2.pem -purpose timestampsign -attime 1486735672 "
     "-out /dev/null",
     "b868ed75d5b7a7b500e8aed2049d83eaba3058251467607db6a3256cdc00ae9025785b40d6d49574f71024cb6ba1da2182a07236a9f"
     "3c6c9ff4348163a406392"},
    {"T28", ZORBEL_OK,
     "ts -verify -token_in -in bc-test-data/tsp/FileDaFirmare/extracted/FileDaFirmare.txt.tsd.token0.der -data "
     "bc-test-data/tsp/FileDaFirmare/extracted/token0.imprint-input.bin -CAfile "
     "bc-test-data/tsp/FileDaFirmare/extracted/InfoCert_ICEDTS01201101.pem -partial_chain -attime 1296837659"},
    {"T31c", ZORBEL_OK,
     "cms -verify -inform DER -in bc-java/tsp/extracted/generalizedTime.token.der -CAfile "
     "bc-java/tsp/extracted/nCipher_demo-dse200-01.pem -partial_chain -purpose timestampsign -attime 1110452323 -out "
     "/dev/null", "0000000000000000000000000000000000000000", "bc-java/tsp/generalizedTime.tsr"},
    {"T32", ZORBEL_OK,
     "ts -verify -in bc-java/tsp/v2SigningCertResponse.tsr -digest "
     "5c53418dd3c4c02d4162ec0030430564497a86bbdb40cef27b1175bb48c5c71d -CAfile "
     "bc-java/tsp/extracted/DRV_QC_Root_CA.pem -attime 1197368519"},
    {"T33", ZORBEL_OK,
     "ts -verify -in bc-java/tsp/sha1Response.tsr -queryfile bc-java/tsp/sha1Request.tsq -CAfile "
     "bc-java/tsp/extracted/signingCert.pem -untrusted bc-java/tsp/extracted/signingCert.pem -partial_chain -attime "
     "1102578725", "f951b101989b2c3b7471710b4e78fc4dbdfa0ca6"},
    {"T35", ZORBEL_OK,
     "ts -verify -in bc-java/tsp/md5Response.tsr -queryfile bc-java/tsp/md5Request.tsq -CAfile "
     "bc-java/tsp/extracted/signingCert.pem -untrusted bc-java/tsp/extracted/signingCert.pem -partial_chain -attime "
     "1102578725", "c897d1410af8f2c74fba11b1db511e9e"},
    {"T37", ZORBEL_OK,
     "ts -verify -in sigstore-go/extracted/public-key-validity.signedTimestamp0.tsr -data "
     "sigstore-go/extracted/public-key-validity.signature.bin -CAfile "
     "sigstore-go/extracted/public-key-validity.tsa-chain.pem -untrusted "
     "sigstore-go/extracted/public-key-validity.tsa-chain.pem -attime 1780595009"},
    {"T38", ZORBEL_VERIFY_NO_SIGNER_CERT,
     "ts -verify -in sigstore-js/github-tsa-2023-12-20.tsr -data sigstore-js/artifact-hello-world.txt -CAfile "
     "sigstore-go/extracted/public-good.github-tsa-chain-2023.pem -untrusted "
     "sigstore-go/extracted/public-good.github-tsa-chain-2023.pem"},
};

bool OpensslSaysOk(const Row& row) {
    std::string output;
    const std::string folder = testdata::RealWorldPath("");
    const int status = RunCommand("cd '" + folder + "' && openssl " + row.command + " 2>&1", &output);
    return status == 0 && output.find("FAILED") == std::string::npos;
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
    for (const std::string& file : certificates) {
        const Bytes pem = RealWorldFile(file);
        pems.emplace_back(pem.begin(), pem.end());
    }
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
