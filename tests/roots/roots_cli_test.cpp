// zorbelu roots and zorbelu services, run as a person runs them.
#include <gtest/gtest.h>

#include <openssl/x509.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "roots/roots_support.h"
#include "support/fixture_x509.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu::test;

struct CliRun {
    int exitStatus;
    std::string output;
};

// Starts `zorbelu arguments`; Finish() waits for it.
FILE* Start(const std::string& arguments) {
    return popen((std::string(ZORBELU_CLI) + " " + arguments + " 2>&1").c_str(), "r");
}

CliRun Finish(FILE* pipe) {
    if (pipe == nullptr) return {-1, ""};
    std::string output;
    std::array<char, 4096> buffer{};
    size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), read);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

CliRun Zorbelu(const std::string& arguments) { return Finish(Start(arguments)); }

// ZORBELUVerifyTimeStampToken on a token of TokenIssuedUnder().
uint32_t Verify(const std::string& token) {
    const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token.data()), static_cast<uint32_t>(token.size())};
    ZORBELUDigestInfo digest{};
    std::snprintf(digest.algorithmOid, sizeof digest.algorithmOid, "2.16.840.1.101.3.4.2.1");
    digest.digestLength = 32;
    std::memset(digest.digest, 0x5A, 32);
    return ZORBELUVerifyTimeStampToken(&blob, &digest, nullptr, 2000);
}

using roots_Cli = RootStoreTest;

TEST_F(roots_Cli, AddTestAndServicesOnAFreshStore) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const struct {
        const char* arguments;
        int exitStatus;
        const char* expected;
    } steps[] = {
        {"services --json", 0, "{\"number\":0,\"name\":\"Kovra Time-Stamp Service 3161\""},
        {"roots test 0", 1, "2701 not installed"},
        {"roots add 0", 0, "1 done"},
        {"roots add 0", 0, "2700 nothing to do"},
        {"roots test 0", 0, "2700 installed"},
        {"roots test 0 --json", 0, "\"code\":2700,\"kind\":\"ok\",\"message\":\"installed: every certificate of the service is in the stores\",\"valid\":true,\"reason\":\"\",\"exitStatus\":0,\"operation\":\"test\",\"service\":0"},
        {"services --json", 0, "\"rootsInstalled\":true,\"rootsResult\":2700}"},
        {"services", 0, "roots  installed"},
        {"roots delete 3", 3, "1001 wrong argument"},
        {"roots delete 2 --json", 1, "\"code\":2701,\"kind\":\"error\",\"message\":\"nothing to delete"},
        {"roots delete 0", 0, "1 done"},
        {"roots frob 0", 2, "add, test or delete"},
        {"roots add", 2, "service number"},
        {"roots delete --token x", 2, "not a token"},
    };
    for (const auto& step : steps) {
        const CliRun run = Zorbelu(step.arguments);
        EXPECT_EQ(run.exitStatus, step.exitStatus) << step.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(step.expected), std::string::npos) << step.arguments << "\n" << run.output;
    }
    // Services 1 to 4 were never installed; 3 and 4 share root 1011 and went
    // with the delete of service 0.
    const CliRun services = Zorbelu("services --json");
    EXPECT_EQ(services.output.find("\"rootsInstalled\":true"), std::string::npos) << services.output;
}

TEST_F(roots_Cli, ATokenNamesItsService) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const std::string token = TokenIssuedUnder(1012, "0.2.440.731859.100.200.100");
    const std::filesystem::path file = dir_.path() / "token.tst";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(token.data(), static_cast<std::streamsize>(token.size()));
    }
    CliRun run = Zorbelu("roots add --token " + file.string());
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("service 1 (KOVRA Time Stamp Service Type-Open-K)\n1 done"), std::string::npos)
        << run.output;
    run = Zorbelu("roots test --json --token " + file.string());
    EXPECT_NE(run.output.find("\"service\":1,\"token\":"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"code\":2700"), std::string::npos) << run.output;
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1012}));
}

TEST_F(roots_Cli, ADeclinedRootIsExplained) {
    const CliRun run = Zorbelu("roots add 1");
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("2702 declined"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ZORBELU_ROOT_CONFIRM=yes"), std::string::npos) << run.output;
}

// Eight people adding the same service at once leave one copy of each root.
// A delete then takes every copy, also those put there by hand under other
// names and encodings, says how many, and the roots no longer make a
// certificate under them trusted.
TEST_F(roots_Cli, ConcurrentAddsLeaveOneCopyAndDeleteTakesEveryCopy) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    std::vector<FILE*> adders;
    for (int i = 0; i < 8; ++i) adders.push_back(Start("roots add 1"));
    for (FILE* adder : adders) {
        const CliRun run = Finish(adder);
        EXPECT_EQ(run.exitStatus, 0) << run.output;
    }
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1007, 1012}));
    const std::string token = TokenIssuedUnder(1012, "0.2.440.731859.100.200.100");
    // The root is found; all that is left to object to is the TSA
    // certificate's missing CRL distribution point.
    EXPECT_EQ(Verify(token), ZORBELU_VS_CERT_INVALID);

    Install(root(), 1012);  // a DER copy under another name
    {
        const std::string der = CommittedCert(1012);
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        const zorbelu::fixtures::ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
        std::ofstream(root() / "copy-1012.pem") << zorbelu::fixtures::x509::CertPem(cert.get());
    }
    const CliRun deleted = Zorbelu("roots delete 1");
    EXPECT_EQ(deleted.exitStatus, 0) << deleted.output;
    EXPECT_NE(deleted.output.find("\ndeleted 4 certificates\n"), std::string::npos) << deleted.output;
    EXPECT_TRUE(StoreFiles(root()).empty());
    EXPECT_EQ(Verify(token), ZORBELU_VS_CERT_UNTRUSTED);

    const CliRun again = Zorbelu("roots delete 1");
    EXPECT_EQ(again.exitStatus, 1) << again.output;
    EXPECT_NE(again.output.find("\ndeleted 0 certificates\n"), std::string::npos) << again.output;
}

}  // namespace
