// The fixture PKI judged by an independent party: the openssl command-line
// tool, run on the files the generator wrote.
#include "support/fixture_pki.h"

#include "support/fixture_der.h"

#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A small AttributeCertificate (RFC 5755 shape, empty holder and attributes);
// what matters here is only that it is one DER SEQUENCE.
std::string SampleAttributeCertificate(char serial) {
    using der::Encode;
    const std::string ecdsaSha256 = Encode(0x30, Encode(0x06, "\x2A\x86\x48\xCE\x3D\x04\x03\x02"));
    const std::string validity = Encode(0x30, Encode(0x18, "20250101000000Z") + Encode(0x18, "20350101000000Z"));
    const std::string info = Encode(0x30, Encode(0x02, std::string(1, '\x01')) + Encode(0x30, "") +
                                              Encode(0xA0, "") + ecdsaSha256 +
                                              Encode(0x02, std::string(1, serial)) + validity + Encode(0x30, ""));
    return Encode(0x30, info + ecdsaSha256 + Encode(0x03, std::string(1, '\0')));
}

class FixturePkiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new fs::path(fs::temp_directory_path() / ("zorbelu-fixture-test-" + std::to_string(getpid())));
        fs::remove_all(*folder_);
        FixtureOptions options;
        options.baseUrl = "http://127.0.0.1:39999/";
        options.attributeCertificates = {SampleAttributeCertificate(1), SampleAttributeCertificate(2)};
        pki_ = new FixturePki(FixturePki::Create(*folder_ / "pki", options));
        const std::string root = ReadFile(pki_->CertPemPath(Ca::Root));
        const std::string inter = ReadFile(pki_->CertPemPath(Ca::Intermediate));
        WriteFile(Bundle("root+intermediate"), root + inter);
        WriteFile(Bundle("intermediate+tsa-good"), inter + ReadFile(pki_->CertPemPath(Tsa::Good)));
        WriteFile(Bundle("crls-root+intermediate"),
                  Shell("openssl crl -inform DER -in " + Quote(pki_->CrlPath(Crl::Root))).output +
                      pki_->CrlBytes(Crl::IntermediatePem));
    }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
        fs::remove_all(*folder_);
        delete folder_;
        folder_ = nullptr;
    }
    static fs::path Bundle(const std::string& name) { return *folder_ / (name + ".pem"); }
    static fs::path Scratch(const std::string& name) { return *folder_ / name; }

    static fs::path* folder_;
    static FixturePki* pki_;
};

fs::path* FixturePkiTest::folder_ = nullptr;
FixturePki* FixturePkiTest::pki_ = nullptr;

// ---- certificates and CRLs against `openssl verify` ------------------------

TEST_F(FixturePkiTest, CertificateChainsAndRevocationAsOpenSslSeesThem) {
    const FixturePki& p = *pki_;
    const std::string inter = Quote(p.CertPemPath(Ca::Intermediate));
    struct Row {
        const char* what;
        Tsa tsa;
        std::string untrusted;  // empty: none
        std::string crls;       // empty: no CRL checking
        std::string flags;
        const char* expected;   // nullptr: passes
    } rows[] = {
        {"good, DER CRL", Tsa::Good, inter, Quote(p.CrlPath(Crl::Intermediate)), "-crl_check", nullptr},
        {"good, PEM CRL", Tsa::Good, inter, Quote(p.CrlPath(Crl::IntermediatePem)), "-crl_check", nullptr},
        {"good, large CRL", Tsa::Good, inter, Quote(p.CrlPath(Crl::IntermediateLarge)), "-crl_check", nullptr},
        {"good, whole chain", Tsa::Good, inter, Quote(Bundle("crls-root+intermediate")), "-crl_check_all",
         nullptr},
        {"good RSA", Tsa::GoodRsa, inter, Quote(p.CrlPath(Crl::Intermediate)), "-crl_check", nullptr},
        {"good, timestamping purpose", Tsa::Good, inter, "", "-purpose timestampsign", nullptr},
        {"revoked", Tsa::Revoked, inter, Quote(p.CrlPath(Crl::Intermediate)), "-crl_check",
         "certificate revoked"},
        {"revoked, large CRL", Tsa::Revoked, inter, Quote(p.CrlPath(Crl::IntermediateLarge)), "-crl_check",
         "certificate revoked"},
        {"expired", Tsa::Expired, inter, Quote(p.CrlPath(Crl::Intermediate)), "-crl_check",
         "certificate has expired"},
        {"not yet valid", Tsa::NotYetValid, inter, "", "", "certificate is not yet valid"},
        {"expired CRL", Tsa::ExpiredCrl, inter, Quote(p.CrlPath(Crl::IntermediateExpired)), "-crl_check",
         "CRL has expired"},
        {"CRL not yet valid", Tsa::NotYetValidCrl, inter, Quote(p.CrlPath(Crl::IntermediateNotYetValid)),
         "-crl_check", "CRL is not yet valid"},
        {"under root", Tsa::UnderRoot, "", Quote(p.CrlPath(Crl::Root)), "-crl_check", nullptr},
        {"AIA-only issuer as served", Tsa::AiaOnly, Quote(p.Folder() / "aia" / "aia-intermediate.cer"),
         Quote(p.CrlPath(Crl::AiaIntermediate)), "-crl_check", nullptr},
        {"AIA-only without its issuer", Tsa::AiaOnly, inter, "", "", "unable to get local issuer certificate"},
        {"under the intermediate without CDP", Tsa::UnderNoCdpIntermediate,
         Quote(p.CertPemPath(Ca::NoCdpIntermediate)), Quote(p.CrlPath(Crl::NoCdpIntermediate)), "-crl_check",
         nullptr},
        {"no EKU", Tsa::NoEku, inter, "", "-purpose timestampsign", "unsuitable certificate purpose"},
        {"EKU not critical", Tsa::EkuNotCritical, inter, "", "-purpose timestampsign",
         "unsuitable certificate purpose"},
        {"large certificate", Tsa::LargeCertificate, inter, Quote(p.CrlPath(Crl::Intermediate)),
         "-crl_check -purpose timestampsign", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string cmd = "openssl verify -CAfile " + Quote(p.CertPemPath(Ca::Root)) + " " + r.flags;
        if (!r.untrusted.empty()) cmd += " -untrusted " + r.untrusted;
        if (!r.crls.empty()) cmd += " -CRLfile " + r.crls;
        const Outcome o = Shell(cmd + " " + Quote(p.CertPath(r.tsa)));
        if (r.expected == nullptr) {
            EXPECT_EQ(o.status, 0) << o.output;
        } else {
            EXPECT_NE(o.status, 0) << o.output;
            EXPECT_NE(o.output.find(r.expected), std::string::npos) << o.output;
        }
    }
}

TEST_F(FixturePkiTest, EveryCrlIsSignedByItsIssuer) {
    const struct {
        Crl crl;
        Ca issuer;
        const char* form;
    } rows[] = {
        {Crl::Root, Ca::Root, "DER"},
        {Crl::Intermediate, Ca::Intermediate, "DER"},
        {Crl::IntermediatePem, Ca::Intermediate, "PEM"},
        {Crl::IntermediateExpired, Ca::Intermediate, "DER"},
        {Crl::IntermediateNotYetValid, Ca::Intermediate, "DER"},
        {Crl::IntermediateLarge, Ca::Intermediate, "DER"},
        {Crl::AiaIntermediate, Ca::AiaIntermediate, "DER"},
        {Crl::NoCdpIntermediate, Ca::NoCdpIntermediate, "DER"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(FixturePki::Name(r.crl));
        EXPECT_EQ(ReadFile(pki_->CrlPath(r.crl)), pki_->CrlBytes(r.crl));
        const Outcome o = Shell(std::string("openssl crl -noout -inform ") + r.form + " -in " +
                              Quote(pki_->CrlPath(r.crl)) + " -CAfile " + Quote(pki_->CertPemPath(r.issuer)));
        EXPECT_EQ(o.status, 0) << o.output;
        EXPECT_NE(o.output.find("verify OK"), std::string::npos) << o.output;
    }
}

TEST_F(FixturePkiTest, TokensAsOpenSslTsSeesThem) {
    const FixturePki& p = *pki_;
    const std::string inter = Quote(p.CertPemPath(Ca::Intermediate));
    struct Row {
        const char* token;
        std::string untrusted;
        bool ok;
    } rows[] = {
        {"good-md5", inter, true},
        {"good-sha1", inter, true},
        {"good-sha256", inter, true},
        {"good-sha384", inter, true},
        {"good-sha512", inter, true},
        {"good-sha256-essv2", inter, true},
        {"good-sha256-chain", "", true},
        {"good-sha256-nocert", Quote(Bundle("intermediate+tsa-good")), true},
        {"good-sha256-nocert", inter, false},
        {"good-rsa-sha256", inter, true},
        {"under-root-sha256", "", true},
        {"aia-only-sha256", Quote(p.Folder() / "aia" / "aia-intermediate.cer"), true},
        {"large-cert-sha256", inter, true},
        {"revoked-sha256", inter, true},  // no CRL checking here
        {"good-sha256-damaged", inter, false},
        {"good-sha256-truncated", inter, false},
        {"no-eku-sha256", inter, false},
        {"eku-not-critical-sha256", inter, false},
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
        EXPECT_NE(o.output.find(r.ok ? "Verification: OK" : "Verification: FAILED"), std::string::npos) << o.output;
    }
}

TEST_F(FixturePkiTest, TokensAsOpenSslCmsSeesThem) {
    // The certificate sets with attribute certificates are beyond `openssl ts`;
    // the CMS parser reads every CertificateChoices.
    const std::vector<std::string> twoAcs = {SampleAttributeCertificate(7), SampleAttributeCertificate(8)};
    TokenSpec noCertWithAcs;
    noCertWithAcs.includeTsaCert = false;
    noCertWithAcs.attributeCertificates = twoAcs;
    TokenSpec noEkuWithAc;
    noEkuWithAc.tsa = Tsa::NoEku;
    noEkuWithAc.attributeCertificates = {twoAcs[0]};
    noEkuWithAc.attributeCertificateTag = 1;
    TokenSpec damagedWithAc;
    damagedWithAc.attributeCertificates = {twoAcs[0]};
    damagedWithAc.damage = Damage::FlipSignatureByte;

    struct Row {
        const char* what;
        std::string token;
        bool ok;
        std::vector<std::string> printed;  // in `openssl cms -cmsout -print`
    } rows[] = {
        {"tac as v2AttrCert", pki_->Token("good-sha256-tac"), true, {"d.v2AttrCert", "version: 4"}},
        {"tac as v1AttrCert", pki_->Token("good-sha256-tac-v1"), true, {"d.v1AttrCert", "version: 3"}},
        {"no certificate set before", pki_->MakeToken(noCertWithAcs), true, {"d.v2AttrCert"}},
        {"CMS-signed token, no EKU", pki_->MakeToken(noEkuWithAc), true, {"d.v1AttrCert", "signingCertificate"}},
        {"CMS-signed token, EKU not critical", pki_->Token("eku-not-critical-sha256"), true, {"signingCertificate"}},
        {"damaged, with attribute certificate", pki_->MakeToken(damagedWithAc), false, {"d.v2AttrCert"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const fs::path token = Scratch("cms-case.der");
        WriteFile(token, r.token);
        const Outcome v = Shell("openssl cms -verify -inform DER -in " + Quote(token) + " -CAfile " +
                              Quote(Bundle("root+intermediate")) + " -certfile " +
                              Quote(pki_->CertPemPath(Tsa::Good)) + " -partial_chain -purpose any -out /dev/null");
        EXPECT_EQ(v.status == 0, r.ok) << v.output;
        const Outcome printed = Shell("openssl cms -cmsout -print -inform DER -in " + Quote(token));
        EXPECT_EQ(printed.status, 0) << printed.output;
        for (const std::string& text : r.printed)
            EXPECT_NE(printed.output.find(text), std::string::npos) << text << "\n" << printed.output;
    }
}

TEST_F(FixturePkiTest, ResponderServesOpenSslRequests) {
    struct Row {
        const char* what;
        std::string queryFlags;  // empty: not a request at all
        std::string untrusted;
        const char* status;
        bool verifies;
    } rows[] = {
        {"sha256 with certReq", "-sha256 -cert", Quote(pki_->CertPemPath(Ca::Intermediate)), "Granted", true},
        {"sha512 with certReq", "-sha512 -cert", Quote(pki_->CertPemPath(Ca::Intermediate)), "Granted", true},
        {"sha1 without nonce", "-sha1 -cert -no_nonce", Quote(pki_->CertPemPath(Ca::Intermediate)), "Granted", true},
        {"no certReq, TSA certificate given", "-sha256", Quote(Bundle("intermediate+tsa-good")), "Granted", true},
        {"no certReq, TSA certificate missing", "-sha256", Quote(pki_->CertPemPath(Ca::Intermediate)), "Granted",
         false},
        {"not a request", "", "", "Rejected", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const fs::path query = Scratch("query.tsq");
        const fs::path reply = Scratch("reply.tsr");
        if (r.queryFlags.empty()) {
            WriteFile(query, "definitely not DER");
        } else {
            const Outcome q = Shell("openssl ts -query -data " + Quote(pki_->DataPath()) + " " + r.queryFlags +
                                  " -out " + Quote(query));
            ASSERT_EQ(q.status, 0) << q.output;
        }
        WriteFile(reply, pki_->RespondToTimeStampRequest(ReadFile(query)));
        const Outcome text = Shell("openssl ts -reply -text -in " + Quote(reply));
        EXPECT_NE(text.output.find(std::string("Status: ") + r.status), std::string::npos) << text.output;
        if (r.queryFlags.empty()) continue;
        const Outcome v = Shell("openssl ts -verify -queryfile " + Quote(query) + " -in " + Quote(reply) +
                              " -CAfile " + Quote(pki_->CertPemPath(Ca::Root)) + " -untrusted " + r.untrusted);
        EXPECT_EQ(v.status == 0, r.verifies) << v.output;
    }
}

// ---- layout ------------------------------------------------------------------

std::vector<std::string> HttpUrlsOf(const std::string& der) {
    auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    std::vector<std::string> urls;
    if (!cert) return urls;
    auto uri = [&](const GENERAL_NAME* name) {
        if (name->type != GEN_URI) return;
        const std::string text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.uniformResourceIdentifier)),
                               static_cast<size_t>(ASN1_STRING_length(name->d.uniformResourceIdentifier)));
        if (text.rfind("http://", 0) == 0) urls.push_back(text);
    };
    auto* points = static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert.get(), NID_crl_distribution_points, nullptr, nullptr));
    for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
        const DIST_POINT* dp = sk_DIST_POINT_value(points, i);
        if (dp->distpoint != nullptr && dp->distpoint->type == 0)
            for (int j = 0; j < sk_GENERAL_NAME_num(dp->distpoint->name.fullname); ++j)
                uri(sk_GENERAL_NAME_value(dp->distpoint->name.fullname, j));
    }
    sk_DIST_POINT_pop_free(points, DIST_POINT_free);
    auto* aia = static_cast<AUTHORITY_INFO_ACCESS*>(X509_get_ext_d2i(cert.get(), NID_info_access, nullptr, nullptr));
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(aia); ++i) uri(sk_ACCESS_DESCRIPTION_value(aia, i)->location);
    AUTHORITY_INFO_ACCESS_free(aia);
    return urls;
}

TEST_F(FixturePkiTest, EveryHttpUrlInACertificateIsServed) {
    std::set<std::string> served;
    for (const auto& f : pki_->ServedFiles()) {
        EXPECT_TRUE(fs::is_regular_file(f.file)) << f.file;
        EXPECT_EQ(f.file, pki_->Folder() / f.urlPath.substr(1));
        served.insert(pki_->BaseUrl() + f.urlPath);
    }
    std::vector<std::string> certs;
    for (Ca ca : {Ca::Root, Ca::Intermediate, Ca::AiaIntermediate, Ca::NoCdpIntermediate})
        certs.push_back(pki_->CertDer(ca));
    for (int t = static_cast<int>(Tsa::Good); t <= static_cast<int>(Tsa::LargeCertificate); ++t)
        certs.push_back(pki_->CertDer(static_cast<Tsa>(t)));
    size_t urls = 0;
    for (const std::string& der : certs) {
        for (const std::string& url : HttpUrlsOf(der)) {
            ++urls;
            EXPECT_TRUE(served.count(url)) << url;
        }
    }
    EXPECT_GT(urls, 30u);
    EXPECT_EQ(pki_->BaseUrl(), "http://127.0.0.1:39999");
}

}  // namespace
}  // namespace zorbelu::fixtures
