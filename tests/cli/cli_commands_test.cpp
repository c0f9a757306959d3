// zorbelu's commands on the fixture PKI: what they print and the exit
// status a script relies on.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

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

// `environment`: assignments put before the command ("NAME=value ").
CommandRun Zorbelu(const std::string& arguments, const std::string& environment = "") {
    const std::string command = environment + std::string(ZORBELU_CLI) + " " + arguments + " 2>&1";
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

TEST_F(Cli, VerifyExitStatusTellsTheVerdict) {
    const std::string good = TokenFile(TokenSpec(Tsa::Good), "good.tst");
    const std::string revoked = TokenFile(TokenSpec(Tsa::Revoked), "revoked.tst");
    const std::string data = served_.pki().DataPath().string();
    const struct {
        std::string arguments;
        int status;
        const char* printed;
    } cases[] = {
        {"verify " + good + " --data " + data, 0, "2501 Data has not been edited after time-stamping."},
        {"verify " + good + " --data " + data + " --full", 0, "2501"},
        {"verify " + good + " --data " + data + " --crl-buffer", 1, "2507"},  // the issuer is no root
        {"verify " + good + " --data " + data + " --policy 3 --json", 0, "\"result\": 2501"},
        {"verify " + revoked + " --data " + data, 1, "2504 Certificate used for time-stamp has been revoked."},
        {"verify " + good + " --data " + good, 1, "2508"},
        {"verify " + good + " --data " + data + " --lang DEU", 0, "2501 Die Daten"},
        {"verify " + good + " --digest 00ff --alg sha256", 3, "1401"},
        {"verify " + good, 2, "give --data FILE or --digest HEX"},
        {"verify " + data + " --data " + data, 1, "2508"},  // not a token at all
        {"frobnicate", 2, "unknown command"},
    };
    for (const auto& c : cases) {
        const CommandRun run = Zorbelu(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.printed), std::string::npos) << c.arguments << "\n" << run.output;
    }
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
    const struct {
        std::string arguments;
        int status;
        const char* printed;
    } cases[] = {
        {"show " + good + " --data " + data, 0, "2501 Data has not been edited"},
        {"show " + good + " --data " + data + " --tabbed --zone JST", 0, "2501"},
        {"show " + good + " --data " + good + " --zone +05:30", 1, "2508"},
        {"show " + good + " --digest 00ff", 3, "1401"},
        {"show " + good + " --data " + data + " --zone mars", 2, "--zone takes"},
    };
    for (const auto& c : cases) {
        const CommandRun run = Zorbelu(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.printed), std::string::npos) << c.arguments << "\n" << run.output;
    }
    // Without any way to show windows the dialog's failure is an error.
    const CommandRun run = Zorbelu("show " + good + " --data " + data, "ZORBELU_UI=none ");
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_NE(run.output.find("the dialog: 1004"), std::string::npos) << run.output;
}

}  // namespace
