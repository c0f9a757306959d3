// Our verdict beside the openssl tool's on the real-world tokens, with the same certificates and -attime.
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
