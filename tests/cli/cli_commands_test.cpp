// zorbelu's commands on the fixture PKI: what they print and the exit
// status a script relies on.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/served_pki.h"

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Store;
using fixtures::Tsa;
using fixtures::TokenSpec;

struct CommandRun {
    int status;
    std::string output;
};

// `prefix`: put before the command, assignments ("NAME=value ") or a
// wrapper ("timeout 20 ").
CommandRun Zorbelu(const std::string& arguments, const std::string& prefix = "") {
    const std::string command = prefix + std::string(ZORBELU_CLI) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> buffer{};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root);
        served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::Intermediate);
    }
    std::string TokenFile(const TokenSpec& recipe, const std::string& name) {
        const std::filesystem::path path = dir_.path() / name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        const std::string token = served_.pki().MakeToken(recipe);
        std::fwrite(token.data(), 1, token.size(), out);
        std::fclose(out);
        return path.string();
    }
    test::ServedPki served_;
    test::TempDir dir_;
};

struct Expectation {
    std::string arguments;
    int status;
    std::string printed;
};

void ExpectRuns(const std::vector<Expectation>& cases, const std::string& prefix = "") {
    for (const auto& c : cases) {
        const CommandRun run = Zorbelu(c.arguments, prefix);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.printed), std::string::npos) << c.arguments << "\n" << run.output;
    }
}

TEST_F(Cli, VerifyExitStatusTellsTheVerdict) {
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    const std::string revoked = TokenFile(TokenSpec(Tsa::Revoked), "revoked.tst");
    const std::string data = served_.pki().DataPath().string();
    ExpectRuns({
        {"verify " + good + " --data " + data, 0, "2501 Data has not been edited after time-stamping."},
        {"verify " + good + " --data " + data + " --full", 0, "2501"},
        {"verify " + good + " --data " + data + " --crl-buffer", 1, "2507"},  // the issuer is no root
        {"verify " + good + " --data " + data + " --policy 2 --json", 0, "\"chainChecked\": true"},
        {"verify " + revoked + " --data " + data, 1, "2504 Certificate used for time-stamp has been revoked."},
        {"verify " + good + " --data " + good, 1, "2508"},
        {"verify " + good + " --data " + data + " --lang DEU", 0, "2501 Die Daten"},
        {"verify " + good + " --digest 00ff --alg sha256", 3, "1401"},
        {"verify " + good, 2, "give --data FILE or --digest HEX"},
        {"verify " + data + " --data " + data, 1, "2508"},  // not a token at all
        {"verify " + good + " --data " + data + " --policy 4", 2, "--policy takes 1, 2 or 3"},
        {"frobnicate", 2, "unknown command"},
    });
}

// Policies 1 and 2 answer from integrity alone for a self-issued TSA
// certificate; zorbelu trusts one only when ROOT holds the very same
// certificate, under every engine that claims a chain check.
TEST_F(Cli, SelfIssuedTsaIsTrustedOnlyFromRoot) {
    const std::string token = served_.pki().TokenPath("self-issued-sha256").string();
    const std::string sha384 = TokenFile(TokenSpec(Tsa::SelfIssued, fixtures::Digest::Sha384), "self-384.tst");
    const std::string cert = served_.pki().CertPemPath(Tsa::SelfIssued).string();
    const std::string verify = "verify " + token + " --data " + served_.pki().DataPath().string();
    const std::string why = "why:        the TSA certificate is self-issued and not in the trusted roots";
    char now[32];
    const time_t fixtureNow = served_.pki().Now();
    std::strftime(now, sizeof now, "%Y%m%d%H%M%SZ", std::gmtime(&fixtureNow));
    const std::string atNow = "tsa-cert " + cert + " --at " + now + " --chain-of " + token + " --json";
    ExpectRuns({
        {verify, 1, "2507 Cannot confirm authenticity"},
        {verify, 1, why},
        {verify + " --policy 2 --json", 1, "\"result\": 2507"},
        {verify + " --full", 1, "2507"},
        {verify + " --crl-buffer", 1, "2507"},
        {verify + " --policy 3", 0, "chain:      not checked"},
        {verify + " --policy 3 --json", 0, "\"result\": 2501, \"status\": true, \"message\": \"Data has not been "
                                           "edited after time-stamping.\", \"chainChecked\": false"},
        // show's long digests go through the by-policy verification.
        {"show " + sha384 + " --data " + served_.pki().DataPath().string(), 1, why},
        // The library's chain verdict for a self-issued certificate at a time is 2515.
        {atNow, 1, "\"chain\": 2507"},
    });
    served_.pki().InstallInStore(served_.storeDir(), Store::Root, Tsa::SelfIssued);
    ExpectRuns({
        {verify, 0, "2501"},
        {verify + " --policy 2 --json", 0, "\"result\": 2501, \"status\": true, \"message\": \"Data has not been "
                                          "edited after time-stamping.\", \"chainChecked\": true"},
        {verify + " --full", 0, "2501"},
        {"show " + sha384 + " --data " + served_.pki().DataPath().string(), 0, "2501"},
        {atNow, 1, "\"chain\": 2515"},  // revocation cannot be confirmed for a certificate without a CRL
    });
}

TEST_F(Cli, InputFilesAreBounded) {
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    const std::filesystem::path large = dir_.path() / "large.bin";
    std::filesystem::resize_file(TokenFile(TokenSpec(Tsa::Good), "large.bin"), (16u << 20) + 1);
    ExpectRuns({
        {"info /dev/zero", 2, "zorbelu: /dev/zero is larger than 16 MiB"},
        {"info " + large.string(), 2, "is larger than 16 MiB"},
        {"tsa-cert /dev/zero", 2, "is larger than 16 MiB"},
        {"info " + dir_.path().string(), 2, "is a directory"},
        {"verify " + good + " --data " + dir_.path().string(), 2, "is a directory"},
        // The data is hashed as it is read, whatever its size.
        {"verify " + good + " --data " + large.string(), 1, "2508"},
    }, "timeout 20 ");  // an unbounded read of /dev/zero would never end
}

// certs --out never writes through a link: without --force it writes
// nothing at all when one of its files is there; with it the entry itself
// is replaced.
TEST_F(Cli, CertsOutputNeverFollowsLinks) {
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    const std::filesystem::path out = dir_.path() / "out", target = dir_.path() / "target";
    std::filesystem::create_directories(out);
    { std::ofstream(target) << "kept"; }
    std::filesystem::create_symlink(target, out / "crl-2.crl");  // the last file written

    CommandRun run = Zorbelu("certs " + good + " --out " + out.string());
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("crl-2.crl exists already (--force replaces it)"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(out / "tsa.cer"));

    run = Zorbelu("certs " + good + " --out " + out.string() + " --force");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(std::filesystem::symlink_status(out / "crl-2.crl").type(), std::filesystem::file_type::regular);
    EXPECT_EQ(test::ReadFileBytes(out / "tsa.cer"), served_.pki().CertDer(Tsa::Good));
    EXPECT_EQ(test::ReadFileBytes(target), "kept");
}

// Two processes that share a store: the forged intermediate (the genuine
// one's name, another key) that the first one's token points at must not be
// in "CA" for the second one.
TEST_F(Cli, AForgedIntermediateIsNotLeftForTheNextProcess) {
    std::filesystem::remove(served_.storeDir() / "CA" / "intermediate.cer");  // through caIssuers only
    const std::string forged = TokenFile(TokenSpec(Tsa::LookAlike), "forged.tst");
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    const std::string data = " --data " + served_.pki().DataPath().string() + " --policy 2";
    const CommandRun first = Zorbelu("verify " + forged + data);
    EXPECT_EQ(first.status, 1) << first.output;
    const CommandRun second = Zorbelu("verify " + good + data);
    EXPECT_EQ(second.status, 0) << second.output;
}

TEST_F(Cli, InfoCertsAndTsaCert) {
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    CommandRun run = Zorbelu("info " + good + " --json");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("\"imprintAlgorithm\": \"2.16.840.1.101.3.4.2.1\""), std::string::npos) << run.output;

    const std::filesystem::path out = dir_.path() / "gathered";
    run = Zorbelu("certs " + good + " --out " + out.string());
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* file : {"tsa.cer", "ca-1.cer", "ca-2.cer", "crl-1.crl", "crl-2.crl"})
        EXPECT_TRUE(std::filesystem::exists(out / file)) << file << "\n" << run.output;

    run = Zorbelu("tsa-cert " + served_.pki().CertPath(Tsa::Revoked).string());
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("revocation  2504"), std::string::npos) << run.output;
    run = Zorbelu("tsa-cert " + served_.pki().CertPath(Tsa::Good).string() + " --json");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("\"validity\": 1, \"revocation\": 2513, \"chain\": 2515"), std::string::npos)
        << run.output;
}

// With the headless backend (the test's environment) a dialog closes as
// soon as it opens, so show's answer is the verification's.
TEST_F(Cli, ShowVerifiesThenShows) {
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    const std::string data = served_.pki().DataPath().string();
    ExpectRuns({
        {"show " + good + " --data " + data, 0, "2501 Data has not been edited"},
        {"show " + good + " --data " + data + " --tabbed --zone JST", 0, "2501"},
        {"show " + good + " --data " + good + " --zone +05:30", 1, "2508"},
        {"show " + good + " --digest 00ff", 3, "1401"},
        {"show " + good + " --data " + data + " --zone mars", 2, "--zone takes"},
    });
    // Without any way to show windows the dialog's failure is an error.
    const CommandRun run = Zorbelu("show " + good + " --data " + data, "ZORBELU_UI=none ");
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_NE(run.output.find("the dialog: 1004"), std::string::npos) << run.output;
}

}  // namespace
