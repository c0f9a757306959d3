// The fixture PKI judged by an independent party, the openssl command-line
// tool, on the files the generator wrote: the verdicts the library's tests
// expect (revoked, expired, wrong usage, damaged) must be what they claim.
#include "support/fixture_pki.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace zorbelu::fixtures {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string output;  // stdout and stderr
};

Outcome Shell(const std::string& command) {
    Outcome out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 4096> buf;
    size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.output.append(buf.data(), n);
    out.status = pclose(pipe);
    return out;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

TEST(FixturePkiTest, CertificateChainsAndRevocationAsOpenSslSeesThem) {
    const FixturePki& p = FixturePki::Shared();
    const std::string inter = Quote(p.CertPemPath(Ca::Intermediate));
    struct Row {
        Tsa tsa;
        std::string untrusted;  // empty: none
        std::string crl;        // empty: no CRL checking
        std::string flags;
        const char* expected;   // nullptr: passes
    } rows[] = {
        {Tsa::Good, inter, Quote(p.CrlPath(Crl::IntermediatePem)), "-crl_check -purpose timestampsign", nullptr},
        {Tsa::GoodRsa, inter, Quote(p.CrlPath(Crl::IntermediateLarge)), "-crl_check", nullptr},
        {Tsa::Revoked, inter, Quote(p.CrlPath(Crl::Intermediate)), "-crl_check", "certificate revoked"},
        {Tsa::Expired, inter, "", "", "certificate has expired"},
        {Tsa::NotYetValid, inter, "", "", "certificate is not yet valid"},
        {Tsa::ExpiredCrl, inter, Quote(p.CrlPath(Crl::IntermediateExpired)), "-crl_check", "CRL has expired"},
        {Tsa::NotYetValidCrl, inter, Quote(p.CrlPath(Crl::IntermediateNotYetValid)), "-crl_check",
         "CRL is not yet valid"},
        {Tsa::UnderRoot, "", Quote(p.CrlPath(Crl::Root)), "-crl_check", nullptr},
        {Tsa::AiaOnly, Quote(p.Folder() / "aia" / "aia-intermediate.cer"), Quote(p.CrlPath(Crl::AiaIntermediate)),
         "-crl_check", nullptr},
        {Tsa::AiaOnly, inter, "", "", "unable to get local issuer certificate"},
        {Tsa::NoEku, inter, "", "-purpose timestampsign", "unsuitable certificate purpose"},
        {Tsa::EkuNotCritical, inter, "", "-purpose timestampsign", "unsuitable certificate purpose"},
        {Tsa::LookAlike, Quote(p.CertPemPath(Ca::LookAlikeIntermediate)), "", "", "unable to get local issuer"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(FixturePki::Name(r.tsa));
        std::string cmd = "openssl verify -CAfile " + Quote(p.CertPemPath(Ca::Root)) + " " + r.flags;
        if (!r.untrusted.empty()) cmd += " -untrusted " + r.untrusted;
        if (!r.crl.empty()) cmd += " -CRLfile " + r.crl;
        const Outcome o = Shell(cmd + " " + Quote(p.CertPath(r.tsa)));
        EXPECT_EQ(o.status == 0, r.expected == nullptr) << o.output;
        EXPECT_TRUE(r.expected == nullptr || o.output.find(r.expected) != std::string::npos) << o.output;
    }
}

TEST(FixturePkiTest, TokensAsOpenSslTsSeesThem) {
    const FixturePki& p = FixturePki::Shared();
    const fs::path chain = p.Folder() / "intermediate+tsa-good.pem";
    std::ifstream interPem(p.CertPemPath(Ca::Intermediate)), tsaPem(p.CertPemPath(Tsa::Good));
    std::ofstream(chain) << interPem.rdbuf() << tsaPem.rdbuf();
    const std::string inter = Quote(p.CertPemPath(Ca::Intermediate));
    struct Row {
        const char* token;
        std::string untrusted;
        bool ok;
    } rows[] = {
        {"good-md5", inter, true},
        {"good-sha512", inter, true},
        {"good-sha256-essv2", inter, true},
        {"good-sha256-chain", "", true},
        {"good-sha256-nocert", Quote(chain), true},
        {"good-sha256-nocert", inter, false},
        {"revoked-sha256", inter, true},  // no CRL checking here
        {"good-sha256-damaged", inter, false},
        {"good-sha256-truncated", inter, false},
        {"no-eku-sha256", inter, false},
        {"good-sha256-response", inter, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.token);
        const bool response = std::string(r.token) == "good-sha256-response";
        std::string cmd = "openssl ts -verify -data " + Quote(p.DataPath()) + " -in " + Quote(p.TokenPath(r.token)) +
                          (response ? "" : " -token_in") + " -CAfile " + Quote(p.CertPemPath(Ca::Root));
        if (!r.untrusted.empty()) cmd += " -untrusted " + r.untrusted;
        const Outcome o = Shell(cmd);
        EXPECT_EQ(o.status == 0, r.ok) << o.output;
    }
}

}  // namespace
}  // namespace zorbelu::fixtures
