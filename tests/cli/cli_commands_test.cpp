// zorbelu as operators run it on the served fixture PKI: command line, exit status, a fragment printed, why.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "json_text.h"
#include "support/served_pki.h"
#include "support/test_forward_proxy.h"

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Damage;
using fixtures::Forgery;
using fixtures::Store;
using fixtures::Tsa;
using fixtures::TokenSpec;

using test::CommandRun;
using test::Zorbelu;

struct Row {
    std::string arguments;
    int status;
    std::string printed;
    const char* why;
    std::string environment = "";
};

void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const CommandRun run = Zorbelu(row.arguments, row.environment);
        EXPECT_EQ(run.status, row.status) << row.why << "\n" << row.environment << row.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(row.printed), std::string::npos)
            << row.why << "\n" << row.environment << row.arguments << "\n" << run.output;
    }
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root);
        served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::Intermediate);
        good_ = TokenFile(served_.pki().MakeToken(TokenSpec(Tsa::Good)), "good.tst");
        data_ = served_.pki().DataPath().string();
        setenv("XDG_CACHE_HOME", (dir_.path() / "cache").c_str(), 1);  // each test its own CRL cache
    }
    std::string TokenFile(const std::string& bytes, const std::string& name) {
        test::WriteFileBytes(dir_.path() / name, bytes);
        return (dir_.path() / name).string();
    }
    std::string Made(const TokenSpec& recipe, const std::string& name) {
        return TokenFile(served_.pki().MakeToken(recipe), name);
    }
    test::ServedPki served_;
    test::TempDir dir_;
    std::string good_, data_;
};

TEST_F(Cli, CommandLinesAreCheckedBeforeAnythingRuns) {
    const std::string verify = "verify " + good_ + " --data " + data_;
    std::vector<Row> rows = {
        {verify + " --polcy 3", 2, "verify: unknown option --polcy (did you mean --policy?)", "no value taken silently"},
        {verify + " --jsn --policy 3", 2, "unknown option --jsn (did you mean --json?)", "--policy is not swallowed"},
        {verify + " " + good_, 2, "unexpected argument '" + good_ + "'", "extra arguments are errors"},
        {verify + " --timeout abc", 2, "--timeout: takes a whole number from 0 to 2147483647, not 'abc'", "numbers"},
        {verify + " --policy 4", 2, "--policy: takes a whole number from 1 to 3", "enumerations"},
        {verify + " --alg sha3", 2, "--alg: takes sha1, md5, sha256, sha384 or sha512", "algorithm names"},
        {verify + " --digest 00", 2, "--data excludes --digest", "one way to give the data"},
        {verify + " --pol 3", 2, "verify: unknown option --pol", "names whole, never abbreviated"},
        {verify + " --policy 2 --policy=3", 2, "verify: --policy given twice", "no value silently replaced"},
        {verify + " --json=no", 2, "verify: --json takes no value", "a flag takes no value"},
        {"verify " + good_ + " --data --json", 2, "verify: --data needs FILE", "an option is no value"},
        {verify + " -- --policy", 2, "unexpected argument '--policy'", "-- ends the options"},
        {verify + " --proxy http://127.0.0.1:1 --no-proxy", 2, "give one of --proxy URL, --no-proxy", "proxy choices"},
        {verify + " --proxy-user u:p", 2, "--proxy-user needs --proxy URL", "credentials go to a named proxy"},
        {verify + " --json --polcy 3", 2, "\"kind\":\"usage\",\"message\":\"verify: unknown option --polcy",
         "JSON asked for: the usage error in JSON too"},
        {"verify /nonexistent --data " + data_, 2, "zorbelu: cannot read /nonexistent: No such file", "missing file"},
        {verify + " --verbose", 0, "zorbelu: its CRL is fetched from: http://127.0.0.1", "--verbose names the URLs"},
        {"info " + dir_.path().string(), 2, "is a directory, not a file", "a directory"},
        {"certs " + good_ + " --out " + good_ + "/x", 2, "cannot make the folder", "the output folder"},
        {"info /dev/zero", 2, "zorbelu: /dev/zero is larger than 16 MiB", "an endless file ends at the bound",
         "timeout 20 "},
        {"verify - --data " + data_ + " < " + good_, 0, "2501", "- is standard input for the token"},
        {"verify " + good_ + " --data - < " + data_, 0, "2501", "and for the data"},
        {verify, 0, "2501 Die Daten", "the language follows LANG", "LANG=de_DE.UTF-8 "},
        {verify, 0, "2501 Data has not been edited", "LC_ALL decides before LANG", "LC_ALL=C LANG=de_DE.UTF-8 "},
        {verify + " --lang DEU", 0, "2501 Die Daten", "--lang decides before the environment", "LANG=C "},
        {"info " + good_ + " --json", 0, "\"imprintAlgorithm\":\"2.16.840.1.101.3.4.2.1\"", "info as JSON"},
    };
    for (const char* command : {"info", "verify", "create", "certs", "tsa-cert", "services", "roots", "show",
                                "token-dialog", "demo"})
        rows.push_back({std::string(command) + " --help", 0, "Usage: zorbelu " + std::string(command), "CMD --help"});
    ExpectRows(rows);
}

// Every failure a user can meet: the status line and the reason from the layer that decided.
TEST_F(Cli, VerifySaysWhy) {
    TokenSpec noCert, tampered, ess, rejected, truncated;
    noCert.includeTsaCert = false;
    tampered.damage = Damage::FlipSignatureByte;
    ess.forgery = Forgery::NoEss;
    rejected.forgery = Forgery::RejectedWithToken;
    truncated.damage = Damage::Truncate;
    const std::string pem = dir_.path() / "good.pem";
    ASSERT_EQ(std::system(("{ echo '-----BEGIN PKCS7-----'; openssl base64 -in " + good_ +
                           "; echo '-----END PKCS7-----'; } > " + pem).c_str()), 0);
    const std::string response = TokenFile(served_.pki().MakeResponse(TokenSpec(Tsa::Good)), "good.tsr");
    const std::string data = " --data " + data_;
    int made = 0;
    const auto verify = [&](const TokenSpec& recipe) {
        return "verify " + Made(recipe, std::to_string(++made) + ".tst") + data;
    };
    const std::string reason = "why:        ";
    served_.server().setStatus("/crl/intermediate-pem.crl", 404);
    served_.server().setDelay("/crl/intermediate-large.crl", std::chrono::milliseconds(3000));
    ExpectRows({
        {"verify " + good_ + data, 0, "2501 Data has not been edited", "valid"},
        {"verify " + pem + data, 0, "2501", "a PEM token"},
        {"verify " + response + data, 0, "2501", "a granted response"},
        {"verify " + data_ + data, 1, reason + "not a time-stamp token: the file does not begin", "not a token"},
        {verify(truncated), 1, reason + "truncated: the token declares", "truncated"},
        {verify(rejected), 1, reason + "not a granted response: the TSA answered status 2", "the TSA refused"},
        {verify(tampered), 1, reason + "signature invalid", "tampered signature"},
        {"verify " + good_ + " --data " + good_, 1, reason + "imprint differs: the token holds", "other data"},
        {verify(ess), 1, reason + "ESS binding broken", "ESS binding"},
        {verify(noCert), 3, "signer certificate missing", "signer certificate"},
        {verify(Tsa::EkuNotCritical), 1, "timeStamping extended key usage is not marked critical", "EKU not critical"},
        {verify(Tsa::Revoked), 1, "was revoked on", "revoked"},
        {verify(Tsa::Expired), 1, "expired on", "expired"},
        {verify(Tsa::ExpiredCrl), 1, "is out of date", "CRL out of date"},
        {verify(Tsa::NoCdp), 1, "names no CRL distribution point", "no CDP"},
        {verify(Tsa::PemCrl), 1, "/crl/intermediate-pem.crl could not be fetched", "the CRL cannot be fetched"},
        {verify(Tsa::LargeCrl) + " --timeout 1000", 3, "took longer than the time limit", "a download too slow"},
        {verify(Tsa::LookAlike), 1, "the chain is incomplete", "an issuer of the same name, another key"},
        {verify(Tsa::NoEku), 1, "has no extended key usage", "no EKU"},
        {verify(Tsa::NotYetValid), 1, "is not valid before", "not yet valid"},
        {verify(Tsa::SelfIssued), 1, reason + "the TSA certificate is self-issued and not in the", "self-issued"},
        {verify(Tsa::SelfIssued) + " --policy 3", 0, "chain:      not checked", "policy 3 checks no chain and says so"},
        {verify(Tsa::Revoked) + " --json", 1,
         "\"code\":2504,\"kind\":\"status\",\"message\":\"Certificate used for time-stamp has been revoked.\","
         "\"valid\":false,\"reason\":\"the TSA certificate",
         "JSON: the same keys"},
    });
    std::filesystem::remove_all(served_.storeDir() / "ROOT");
    ExpectRows({{"verify " + good_ + data, 1, reason + "the chain of C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test tsa-good "
                 "reaches no root of the \"ROOT\" store (issuers looked for in \"CA\", \"ROOT\" and at http://",
                 "the root is not trusted"}});
}

// Environment proxies, NO_PROXY, --proxy and --no-proxy on every downloading command; a dead proxy shows its use.
TEST_F(Cli, ProxiesAsEveryNetworkTool) {
    if (!test::TestForwardProxy::available()) GTEST_SKIP() << "tinyproxy is not installed";
    test::TestForwardProxy proxy, guarded;
    proxy.start();
    guarded.start("user", "secret");
    test::ClosedLoopbackPort closed;
    const std::string live = proxy.url(), dead = "http://127.0.0.1:" + std::to_string(closed.port());
    const std::string verify = "verify " + good_ + " --data " + data_ + " --timeout 5000 --no-cache";  // every run downloads
    const std::string certs = "certs " + good_ + " --force --out " + (dir_.path() / "out").string();
    const std::string tsaCert = "tsa-cert " + served_.pki().CertPath(Tsa::Good).string();
    const std::string unset = "env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY -u all_proxy -u "
                              "ALL_PROXY -u no_proxy -u NO_PROXY ";
    const std::string viaDead = unset + "http_proxy=" + dead + " ";
    ExpectRows({
        {verify, 0, "2501", "http_proxy alone works for verify", unset + "http_proxy=" + live + " "},
        {verify, 3, "could not connect to fetch http://127.0.0.1", "http_proxy is used", viaDead},
        {verify, 3, "1202", "HTTP_PROXY counts too", unset + "HTTP_PROXY=" + dead + " "},
        {certs, 3, "could not connect to fetch http://127.0.0.1", "certs names the URL", viaDead},
        {tsaCert, 1, "no CRL could be fetched from http://127.0.0.1", "tsa-cert too", viaDead},
        {verify, 0, "2501", "NO_PROXY is honoured", viaDead + "NO_PROXY=127.0.0.1 "},
        {verify + " --no-proxy", 0, "2501", "--no-proxy beats the environment", viaDead},
        {verify + " --proxy " + live, 0, "2501", "--proxy beats the environment", viaDead},
        {verify + " --proxy " + dead, 3, "1202", "--proxy is used for every download", unset},
        {verify + " --proxy " + guarded.url(), 1, "/crl/intermediate.crl could not be fetched", "a 407", unset},
        {verify + " --proxy " + guarded.url() + " --proxy-user user:secret", 0, "2501", "--proxy-user", unset},
    });
    EXPECT_NE(proxy.log().find("/crl/"), std::string::npos) << proxy.log();
}

// certs --out never writes through a link: nothing without --force, the link itself replaced with it.
TEST_F(Cli, CertsOutputNeverFollowsLinks) {
    const std::filesystem::path out = dir_.path() / "out", target = dir_.path() / "target";
    std::filesystem::create_directories(out);
    std::ofstream(target) << "kept";
    std::filesystem::create_symlink(target, out / "crl-2.crl");  // the last file written
    const std::string certs = "certs " + good_ + " --out " + out.string();
    ExpectRows({{certs, 2, "crl-2.crl exists already (--force replaces it)", "a link is there"}});
    EXPECT_FALSE(std::filesystem::exists(out / "tsa.cer"));
    ExpectRows({{certs + " --force", 0, "", "--force replaces the link"}});
    EXPECT_EQ(std::filesystem::symlink_status(out / "crl-2.crl").type(), std::filesystem::file_type::regular);
    EXPECT_EQ(test::ReadFileBytes(out / "tsa.cer"), served_.pki().CertDer(Tsa::Good));
    EXPECT_EQ(test::ReadFileBytes(target), "kept");
}

// Trust for one run comes only from --ca-file/--ca-dir; token and --untrusted certificates never anchor.
TEST_F(Cli, TrustForOneRunComesOnlyFromCaOptions) {
    std::filesystem::remove_all(served_.storeDir() / "ROOT");
    std::filesystem::remove_all(served_.storeDir() / "CA");
    for (const char* path : {"/aia/intermediate.cer", "/aia/root.cer"}) served_.server().setStatus(path, 404);
    TokenSpec carried(Tsa::Good), forged(Tsa::LookAlike);
    carried.includeChain = forged.includeChain = true;
    const std::string chain = Made(carried, "chain.tst"), forgedChain = Made(forged, "forged.tst");
    const std::string self = Made(TokenSpec(Tsa::SelfIssued), "self.tst");
    const std::string root = served_.pki().CertPemPath(Ca::Root).string();
    const std::string selfCert = served_.pki().CertPemPath(Tsa::SelfIssued).string();
    const std::filesystem::path roots = dir_.path() / "roots";
    std::filesystem::create_directories(roots);
    std::filesystem::copy_file(served_.pki().CertPath(Ca::Root), roots / "root.cer");
    const std::string data = " --data " + data_;
    ExpectRows({
        {"verify " + chain + data + " --ca-file " + root, 0, "2501", "intermediate from the token, root from --ca-file"},
        {"verify " + chain + data + " --ca-dir " + roots.string(), 0, "2501", "root from --ca-dir"},
        {"verify " + good_ + data + " --ca-file " + root + " --untrusted " +
             served_.pki().CertPemPath(Ca::Intermediate).string(), 0, "2501", "intermediate from --untrusted"},
        {"verify " + chain + data, 1, "2507", "no root: the token's certificates never anchor"},
        {"verify " + chain + data + " --untrusted " + root, 1, "2507", "a self-signed --untrusted is no root"},
        {"verify " + chain + data + " --ca-file " + root + " --no-token-certs", 1, "2507", "token issuers left out"},
        {"verify " + forgedChain + data + " --ca-file " + root, 1, "2507", "a forged intermediate is not offered"},
        {"verify " + self + data + " --untrusted " + selfCert, 1, "self-issued and not in the trusted roots",
         "zorbelu's own rule: --untrusted is no root either"},
        {"verify " + self + data + " --ca-file " + selfCert, 0, "2501", "zorbelu's own rule counts --ca-file"},
        {"verify " + chain + data + " --ca-file " + data_, 2, "holds no certificate", "a --ca-file of no use"},
    });
    EXPECT_FALSE(std::filesystem::exists(served_.storeDir() / "ROOT")) << "the overlay is never written to a store";
}

// The CRL cache on disk serves the next run while the CRL is current.
TEST_F(Cli, CrlCacheServesTheNextRunWhileCurrent) {
    const std::string verify = "verify " + good_ + " --data " + data_;
    ExpectRows({{verify + " --no-cache", 0, "2501", "--no-cache verifies"},
                {verify + " --verbose", 0, "2501", "the CRLs downloaded and kept"}});
    const std::filesystem::path cache = dir_.path() / "cache" / "zorbelu";
    for (const auto& file : std::filesystem::directory_iterator(cache))
        EXPECT_EQ(std::filesystem::status(file).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) << file.path();
    // Far beyond the 60 KB a host's cache store takes: the program takes CRLs of any size.
    std::vector<uint64_t> serials(20000);
    for (size_t i = 0; i < serials.size(); ++i) serials[i] = 0x5000000000ull + i * 7919;
    served_.server().serveFile("/crl/intermediate.crl", served_.pki().MakeCrl(Ca::Intermediate, serials));
    ExpectRows({{verify + " --no-cache", 0, "2501", "a CRL of 20,000 entries, about 600 KB"}});
    // A CRL past its nextUpdate is never served from the cache.
    const std::string old = "verify " + Made(TokenSpec(Tsa::ExpiredCrl), "old.tst") + " --data " + data_ + " --verbose";
    EXPECT_EQ(Zorbelu(old).status, 1);
    EXPECT_EQ(Zorbelu(old).output.find("intermediate-expired.crl from the cache"), std::string::npos);
    for (const char* path : {"/crl/intermediate.crl", "/crl/root.crl"}) served_.server().setStatus(path, 404);
    ExpectRows({{verify + " --verbose", 0, "from the cache", "the CRL server answers no more: the cached CRLs"},
                {verify + " --no-cache", 1, "could not be fetched", "--no-cache: downloaded, and it fails"}});
}

// A self-issued TSA certificate is trusted once ROOT holds it, by every chain-checking engine and by show.
TEST_F(Cli, SelfIssuedTsaIsTrustedFromRootAndShown) {
    const std::string token = served_.pki().TokenPath("self-issued-sha256").string();
    const std::string sha384 = Made(TokenSpec(Tsa::SelfIssued, fixtures::Digest::Sha384), "self-384.tst");
    const std::string cert = served_.pki().CertPemPath(Tsa::SelfIssued).string();
    char now[32];
    const time_t fixtureNow = served_.pki().Now();
    std::strftime(now, sizeof now, "%Y%m%d%H%M%SZ", std::gmtime(&fixtureNow));
    const std::string atNow = "tsa-cert " + cert + " --at " + now + " --chain-of " + token + " --json";
    const std::string data = " --data " + data_;
    ExpectRows({{atNow, 1, "\"chain\":2507", "not in ROOT: the chain verdict is 2507"},
                {"show " + sha384 + data, 1, "self-issued and not in the trusted roots", "show keeps the rule"}});
    served_.pki().InstallInStore(served_.storeDir(), Store::Root, Tsa::SelfIssued);
    ExpectRows({
        {"verify " + token + data, 0, "2501", "in ROOT"},
        {"show " + sha384 + data, 0, "2501", "long digests through the by-policy verification"},
        {atNow, 1, "\"chain\":2515", "revocation cannot be confirmed for a certificate without a CRL"},
        {"show " + good_ + data + " --tabbed --zone=-05:30", 0, "2501", "an offset"},
        {"show " + good_ + data + " --zone mars", 2, "--zone takes", "an unknown zone"},
    });
}

// zorbelu create asks the fixture PKI's TSA on 127.0.0.1; its tokens verify with zorbelu and with openssl.
TEST_F(Cli, CreateAsksATsaAndWritesTheToken) {
    served_.server().setTsaHandler("/tsa", [this](const std::string& der) {
        return served_.pki().RespondToTimeStampRequest(der);
    });
    TokenSpec rejected(Tsa::Good);
    rejected.forgery = Forgery::RejectedWithToken;
    const std::string refusal = served_.pki().MakeToken(rejected);  // a rejection response
    served_.server().setTsaHandler("/refuse", [refusal](const std::string&) { return refusal; });
    test::ClosedLoopbackPort closed;
    const std::string token = (dir_.path() / "new.tst").string(), data = " --data " + data_;
    const std::string create = "create --tsa " + served_.server().url("/tsa") + data;
    ExpectRows({
        {create + " --out " + token, 0, "wrote " + token, "a token from the TSA"},
        {"verify " + token + data, 0, "2501", "verifies"},
        {create + " --out " + token, 2, "exists already (--force replaces it)", "never over a file"},
        {create + " --out " + token + " --force --alg sha512 --no-nonce --json", 0, "\"valid\":true", "replaced"},
        {"verify " + token + data + " --json", 0, "\"imprintAlgorithm\":\"2.16.840.1.101.3.4.2.3\"", "as asked"},
        {"info " + token + " --json", 0, "\"nonce\":\"\"}", "--no-nonce: none sent, none echoed"},
        {"create --tsa " + served_.server().url("/refuse") + data + " --out " + token + "2", 3,
         "1901 the TSA refused the request", "a refusal"},
        {"create --tsa http://127.0.0.1:" + std::to_string(closed.port()) + data + " --out " + token + "2", 3,
         "1202 could not connect", "no TSA there"},
        {"create --tsa " + served_.server().url("/tsa") + " --digest 00ff", 2, "--digest of sha256 takes 64 hex digits",
         "a digest of the wrong length"},
        {create + " --alg md5", 2, "--alg: takes sha1, sha256, sha384 or sha512", "no TSA is asked for MD5"},
        {create + " --json", 2, "give --out FILE for the token", "the token and JSON never share stdout"},
    });
    EXPECT_FALSE(std::filesystem::exists(token + "2"));
    const auto pem = [this](Ca ca) { return served_.pki().CertPemPath(ca).string(); };
    EXPECT_EQ(std::system(("openssl ts -verify -in " + token + " -token_in -data " + data_ + " -CAfile " +
                           pem(Ca::Root) + " -untrusted " + pem(Ca::Intermediate) + " > /dev/null 2>&1").c_str()), 0);
}

// verify --batch: a manifest's lines verified, a summary, one exit status; manifest mistakes stop it first.
TEST_F(Cli, VerifyBatchOfAManifestOrAFolder) {
    TokenSpec tampered(Tsa::Good);
    tampered.damage = Damage::FlipSignatureByte;
    Made(tampered, "sig.tst");
    std::filesystem::copy_file(data_, dir_.path() / "good");  // the data beside good.tst
    std::string hex;
    for (unsigned char c : served_.pki().DataDigest(fixtures::Digest::Sha256))
        hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    const auto manifest = [this](const std::string& name, const std::string& lines) {
        return TokenFile("# token<TAB>data\n" + lines, name);
    };
    const std::string all = manifest("all.txt", "good.tst\tgood\ngood.tst\tsha256:" + hex + "\r\n" +
                                                "sig.tst\tgood\nmissing.tst\tgood\n");
    const std::string batch = "verify --batch ";
    ExpectRows({
        {batch + all, 1, "summary: 4 tokens, 2 valid: unusable x1 2501 x2 2508 x1", "counts per code"},
        {batch + all + " --json", 1, "\"exitStatus\":0,\"token\":\"" + dir_.path().string() + "/good.tst\"", "JSON"},
        {batch + manifest("good.txt", "good.tst\tgood") + " --json", 0,
         "\"valid\":true,\"reason\":\"\",\"exitStatus\":0,\"summary\":{\"2501\":1}", "all valid"},
        {batch + dir_.path().string(), 1, "good.tst: 2501", "a folder: each *.tst with its data beside it"},
        {batch + manifest("bad.txt", "good.tst good"), 2, "bad.txt:2: expected TOKEN<TAB>DATA", "a line is checked"},
        {batch + manifest("short.txt", "good.tst\tsha256:00"), 2, "sha256: takes 64 hex digits", "digests too"},
        {batch + all + " " + good_, 2, "--batch takes the place of TOKEN", "one or the other"},
        {"verify " + good_ + " --data " + data_ + " --jobs 2", 2, "--jobs goes with --batch", "--jobs alone"},
        {batch + all + " --jobs 0", 2, "--jobs: takes a whole number from 1 to 1024", "jobs are counted"},
        {"verify --data " + data_, 2, "verify: give TOKEN", "no token at all"},
    });
}

#define FFFD "\xEF\xBF\xBD"

// zorbelu's JSON strings are valid UTF-8 whatever bytes they are made of.
TEST(JsonString, IllFormedUtf8BecomesReplacementCharacters) {
    const struct {
        const char* why;
        std::string text;
        std::string json;
    } cases[] = {
        {"well-formed text of 1 to 4 bytes", "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E", "\"a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\""},
        {"quote, backslash, control bytes", std::string("\"\\\n\x01\x7F", 5) + '\0', "\"\\\"\\\\\\n\\u0001\x7F\\u0000\""},
        {"a stray continuation byte", "a\x80z", "\"a" FFFD "z\""},
        {"bytes that never start a sequence", "\xC0\xC1\xF5\xFF", "\"" FFFD FFFD FFFD FFFD "\""},
        {"an overlong two-byte form", "\xC0\xAF", "\"" FFFD FFFD "\""},
        {"a surrogate", "\xED\xA0\x80", "\"" FFFD FFFD FFFD "\""},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\"" FFFD FFFD FFFD FFFD "\""},
        {"truncated at the end: one replacement", "a\xF0\x9D\x84", "\"a" FFFD "\""},
    };
    for (const auto& c : cases) EXPECT_EQ(cli::JsonText(c.text), c.json) << c.why;
}

}  // namespace
