// The services' trust anchors: the five exports over temporary stores, and zorbelu roots and services.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/module_state.h"
#include "platform/module.h"
#include "platform/stores/system_store.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"
#include "ui/message_box.h"
#include "ui/ui_headless.h"
#include "verify/root_store_management.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::test;
namespace fx = zorbelu::fixtures;

constexpr uint32_t kCertIds[] = {1007, 1008, 1009, 1010, 1011, 1012, 1080, 1081};

// The committed DER bytes of res/certs/cert_<id>.der.
std::string CommittedCert(uint32_t id) {
    const std::string bytes = ReadFileBytes(std::filesystem::path(CERTS_DIR) / ("cert_" + std::to_string(id) + ".der"));
    if (bytes.empty()) throw std::runtime_error("no committed certificate " + std::to_string(id));
    return bytes;
}

// The certificate files of a store folder, by name.
std::vector<std::string> StoreFiles(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".cer") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The committed certificate ids the files of a store folder hold, sorted; 0 for any other file.
std::vector<uint32_t> StoreIds(const std::filesystem::path& folder) {
    std::vector<uint32_t> ids;
    for (const std::string& name : StoreFiles(folder)) {
        const std::string bytes = ReadFileBytes(folder / name);
        uint32_t found = 0;
        for (uint32_t id : kCertIds)
            if (CommittedCert(id) == bytes) found = id;
        ids.push_back(found);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// A token for `policy` from a fresh TSA certificate issued by `issuerId` with its key from tests/data/root_keys.
std::string TokenIssuedUnder(uint32_t issuerId, const std::string& policy) {
    const std::string issuerDer = CommittedCert(issuerId);
    const auto* p = reinterpret_cast<const unsigned char*>(issuerDer.data());
    fx::ossl::X509Ptr issuer(d2i_X509(nullptr, &p, static_cast<long>(issuerDer.size())));
    const std::string keyPath = std::string(ROOT_KEYS_DIR) + "/key_" + std::to_string(issuerId) + ".pem";
    fx::ossl::BioPtr keyFile(BIO_new_file(keyPath.c_str(), "r"));
    fx::ossl::PkeyPtr issuerKey(keyFile ? PEM_read_bio_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!issuer || !issuerKey) throw std::runtime_error("cannot read the certificate or key of " + keyPath);
    fx::ossl::PkeyPtr tsaKey = fx::x509::CachedKey("roots-tsa", fx::x509::KeyType::EcP256);
    fx::x509::CertRequest request;
    request.commonName = "Stand-in TSA under " + std::to_string(issuerId);
    request.serial = 7000 + issuerId;
    request.key = tsaKey.get();
    request.issuer = issuer.get();
    request.issuerKey = issuerKey.get();
    request.notBefore = std::time(nullptr) - 86400;
    request.notAfter = std::time(nullptr) + 365 * 86400;
    request.eku = fx::x509::Eku::TimeStampingCritical;
    const std::string tsaDer = fx::x509::CertDer(fx::x509::MakeCertificate(request).get());
    const std::string tsaKeyPem = fx::x509::KeyPem(tsaKey.get());
    ZORBELTSASigner signer{};
    signer.privateKey = Bytes(tsaKeyPem);
    signer.privateKeyLength = static_cast<uint32_t>(tsaKeyPem.size());
    signer.certificate = Bytes(tsaDer);
    signer.certificateLength = static_cast<uint32_t>(tsaDer.size());
    std::snprintf(signer.defaultPolicyOid, sizeof signer.defaultPolicyOid, "%s", policy.c_str());
    ZORBELTimeStampRequest ask{};
    std::snprintf(ask.digest.algorithmOid, sizeof ask.digest.algorithmOid, "2.16.840.1.101.3.4.2.1");
    ask.digest.digestLength = 32;
    std::memset(ask.digest.digest, 0x5A, 32);
    ask.certReq = 1;
    std::vector<uint8_t> out(16384);
    ZORBELUCertBlob token{out.data(), static_cast<uint32_t>(out.size()), 0};
    const uint32_t made = ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&signer), ZORBEL_CREATE_TOKEN,
                                                       &ask, reinterpret_cast<uintptr_t>(&token));
    if (made != 1) throw std::runtime_error("token creation answered " + std::to_string(made));
    return std::string(reinterpret_cast<const char*>(out.data()), token.length);
}

ZORBELUBlob Blob(const std::string& token) { return {Bytes(token), static_cast<uint32_t>(token.size())}; }

// Every test starts with empty writable stores, no system bundle, and "no" to every root confirmation.
class RootStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZORBELU_STORE_DIR", dir_.path().c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        setenv("ZORBELU_ROOT_CONFIRM", "no", 1);
    }
    void TearDown() override {
        unsetenv("ZORBELU_STORE_DIR");
        unsetenv("ZORBELU_ROOT_CONFIRM");
    }
    std::filesystem::path root() const { return dir_.path() / "ROOT"; }
    std::filesystem::path ca() const { return dir_.path() / "CA"; }
    void Clear() const {
        std::filesystem::remove_all(root());
        std::filesystem::remove_all(ca());
    }
    void Install(const std::filesystem::path& folder, uint32_t id, const std::string& bytes = "") const {
        WriteFileBytes(folder / ("by-hand-" + std::to_string(id) + ".cer"), bytes.empty() ? CommittedCert(id) : bytes);
    }
    void ExpectStores(const std::vector<uint32_t>& inRoot, const std::vector<uint32_t>& inCa) const {
        EXPECT_EQ(StoreIds(root()), inRoot);
        EXPECT_EQ(StoreIds(ca()), inCa);
    }

    TempDir dir_;
};

const char kPolicyService0[] = "0.2.440.731846.100.200.100";
const char kPolicyService1[] = "0.2.440.731859.100.200.100";

std::string ResourceBytes(platform::HINSTANCE module, uint32_t id) {
    const ZorbeluBinaryResource* resource = platform::FindResource(module, "CERT", id);
    return resource == nullptr ? "" : std::string(static_cast<const char*>(resource->data), resource->size);
}

using roots_Store = RootStoreTest;
using Export = uint32_t (*)(uint32_t);
const Export kAdd = ZORBELUAddRootCertificateToStore, kTest = ZORBELUIsRootCertificateInStore,
             kDelete = ZORBELUDeleteRootCertificateFromStore;

TEST_F(roots_Store, ACopyWithTheSameNamesCountsAsInstalled) {
    // Installed copies are recognised by subject and issuer name, not bytes.
    Install(root(), 1011, ReadFileBytes(std::filesystem::path(ROOTS_DATA_DIR) / "cert_1011_other_bytes.der"));
    EXPECT_EQ(kTest(3), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(kAdd(4), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(StoreFiles(root()).size(), 1u);
}

TEST_F(roots_Store, ServiceNumbersOutsideTheirRangeAreRefused) {
    const struct {
        Export call;
        uint32_t service, result;
    } cases[] = {
        {kAdd, 5, ZORBELU_ERR_PARAM},    {kAdd, 0xFFFFFFFFu, ZORBELU_ERR_PARAM},  {kTest, 5, ZORBELU_ERR_PARAM},
        {kTest, 4, ZORBELU_ERR_NOT_FOUND}, {kDelete, 3, ZORBELU_ERR_PARAM},       {kDelete, 4, ZORBELU_ERR_PARAM},
        {kDelete, 2, ZORBELU_ERR_NOT_FOUND}, {kDelete, 0, ZORBELU_ERR_NOT_FOUND},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(c.service), c.result) << c.service;
    EXPECT_FALSE(std::filesystem::exists(root()));
}

TEST_F(roots_Store, ACertificateOfTheReadOnlyBundleIsAccessDenied) {
    const std::filesystem::path bundle = dir_.path() / "bundle.crt";
    std::ofstream(bundle) << fx::x509::CertDerToPem(CommittedCert(1009));
    stores::SetSystemBundleForTesting(bundle);
    setenv("ZORBELU_SYSTEM_ROOTS", "1", 1);
    Install(ca(), 1010);
    EXPECT_EQ(kTest(2), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(kDelete(2), ZORBELU_ERR_ACCESS_DENIED);
    EXPECT_TRUE(StoreFiles(ca()).empty());  // the row before it was deleted all the same
    EXPECT_EQ(kDelete(2), ZORBELU_ERR_ACCESS_DENIED);
    stores::SetSystemBundleForTesting(std::nullopt);
}

TEST_F(roots_Store, ADeclinedRootStopsEveryServiceButTwo) {
    using platform::IDNO;
    using platform::IDYES;
    const struct {
        uint32_t service;
        std::vector<int> answers;  // then "no" from the environment
        uint32_t result;
        size_t questions;
        std::vector<uint32_t> inRoot, inCa;
    } cases[] = {
        // The first root declined: the walk of service 0 ends there.
        {0, {IDNO}, ZORBELU_ERR_CANCELLED, 1, {}, {}},
        // The second declined: the first stays, rows 3 and 4 are not tried.
        {0, {IDYES, IDNO}, ZORBELU_ERR_CANCELLED, 2, {1008}, {}},
        {0, {IDYES, IDYES, IDYES}, ZORBELU_OK, 3, {1008, 1011, 1080}, {1081}},
        {1, {IDNO}, ZORBELU_ERR_CANCELLED, 1, {}, {}},
        // Service 2 goes on: its CA certificate is added, its root asked for.
        {2, {IDNO}, ZORBELU_ERR_CANCELLED, 1, {}, {1010}},
        {3, {IDNO}, ZORBELU_ERR_CANCELLED, 1, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.service);
        platform::headless::Reset();
        for (int answer : c.answers) platform::headless::QueueMessageBoxAnswer(answer);
        EXPECT_EQ(kAdd(c.service), c.result);
        EXPECT_EQ(platform::headless::RecordedMessageBoxes().size(), c.questions);
        ExpectStores(c.inRoot, c.inCa);
        Clear();
    }
    platform::headless::Reset();
}

// A module whose certificate 1011 has other bytes than the committed one.
TEST_F(roots_Store, AFingerprintMismatchFailsEveryServiceOfThatCertificate) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const platform::HINSTANCE module = platform::LoadLibraryA(OTHER_1011_MODULE);
    ASSERT_NE(module, nullptr);
    ASSERT_NE(ResourceBytes(module, 1011), CommittedCert(1011));
    ASSERT_EQ(ResourceBytes(module, 1008), CommittedCert(1008));
    const platform::HINSTANCE previous = frame::AfxGetResourceHandle();
    frame::AfxSetResourceHandle(module);
    const struct {
        Export call;
        uint32_t service, result;
    } cases[] = {
        {kTest, 0, ZORBELU_ERR_EXCEPTION}, {kTest, 3, ZORBELU_ERR_EXCEPTION}, {kTest, 4, ZORBELU_ERR_EXCEPTION},
        {kAdd, 3, ZORBELU_ERR_EXCEPTION},  {kAdd, 4, ZORBELU_ERR_EXCEPTION},  {kAdd, 0, ZORBELU_ERR_EXCEPTION},
        {kTest, 1, ZORBELU_ERR_NOT_FOUND},  {kAdd, 2, ZORBELU_OK},  // the other services do not use 1011
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(c.service), c.result) << c.service;
    // The other rows of service 0 were still walked, for adding and deleting alike.
    ExpectStores({1008, 1009, 1080}, {1010, 1081});
    EXPECT_EQ(kDelete(0), ZORBELU_ERR_EXCEPTION);
    ExpectStores({1009}, {1010});
    for (uint32_t service : {3u, 4u})  // not deletable through the exports; the worker fails on them too
        EXPECT_EQ(certs::ManageServiceRootCertificates(module, service, 2, nullptr), ZORBELU_ERR_EXCEPTION);
    frame::AfxSetResourceHandle(previous);
    platform::FreeLibrary(module);
}

TEST_F(roots_Store, ATokenUnderRoot1012IsTestedAgainstThatRowOnly) {
    const std::string token = TokenIssuedUnder(1012, kPolicyService1);
    const ZORBELUBlob blob = Blob(token);
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ERR_NOT_FOUND);
    Install(root(), 1007);  // the other root of service 1 does not count
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ERR_NOT_FOUND);
    Clear();
    Install(root(), 1012);
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(kTest(1), ZORBELU_ERR_NOT_FOUND);  // the service needs both roots
    Install(root(), 1007);
    EXPECT_EQ(kTest(1), ZORBELU_ROOT_IN_STORE);
}

TEST_F(roots_Store, AddingByTokenAddsTheTokensChainOnly) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const struct {
        uint32_t issuer;
        const char* policy;
        std::vector<uint32_t> inRoot, inCa;
    } cases[] = {
        {1012, kPolicyService1, {1012}, {}},
        {1007, kPolicyService1, {1007}, {}},
        {1011, kPolicyService0, {1011}, {}},
        // Through the intermediate up to its root; the other roots of service 0 stay out.
        {1081, kPolicyService0, {1080}, {1081}},
        {1011, "0.2.440.731846.100.200.102", {1011}, {}},
        // Service 2 takes all its rows, whoever issued the TSA certificate.
        {1007, "1.2.410.100001.2.1.7.2", {1009}, {1010}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.issuer);
        const std::string token = TokenIssuedUnder(c.issuer, c.policy);
        const ZORBELUBlob blob = Blob(token);
        EXPECT_EQ(ZORBELUAddRootCertificateOfTimeStampToStore(&blob), ZORBELU_OK);
        ExpectStores(c.inRoot, c.inCa);
        EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ROOT_IN_STORE);
        EXPECT_EQ(ZORBELUAddRootCertificateOfTimeStampToStore(&blob), ZORBELU_ROOT_IN_STORE);
        Clear();
    }
}

TEST_F(roots_Store, TokensThatNameNoServiceOrCannotBeReadAreRefused) {
    const std::string foreign = TokenIssuedUnder(1012, "1.3.6.1.4.1.99999.1");
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    const ZORBELUBlob empty{junk, 0}, notToken{junk, sizeof junk}, noService = Blob(foreign);
    const std::pair<const ZORBELUBlob*, uint32_t> cases[] = {{nullptr, ZORBELU_ERR_PARAM},
                                                             {&empty, ZORBELU_ERR_PARAM},
                                                             {&notToken, ZORBELU_ERR_EXCEPTION},
                                                             {&noService, ZORBELU_ERR_UNKNOWN_SERVICE}};
    for (const auto& [blob, result] : cases) {
        EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(blob), result);
        EXPECT_EQ(ZORBELUAddRootCertificateOfTimeStampToStore(blob), result);
    }
    EXPECT_FALSE(std::filesystem::exists(root()));
}

// ---- zorbelu roots and zorbelu services ----------------------------------------

using roots_Cli = RootStoreTest;

TEST_F(roots_Cli, AddTestAndServicesOnAFreshStore) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const std::filesystem::path token = dir_.path() / "token.tst";
    std::ofstream(token, std::ios::binary) << TokenIssuedUnder(1012, kPolicyService1);
    const std::string no = "ZORBELU_ROOT_CONFIRM=no ";
    const struct {
        std::string arguments;
        int exitStatus;
        std::string expected, environment = "";
    } steps[] = {
        {"services --json", 0, "{\"number\":0,\"name\":\"Kovra Time-Stamp Service 3161\""},
        {"roots test 0", 1, "2701 not installed"},
        {"roots add 1", 1, "2702 declined", no},
        {"roots add 0", 0, "1 done"},
        {"roots add 0", 0, "2700 nothing to do"},
        {"roots test 0", 0, "2700 installed"},
        {"roots test 0 --json", 0, "\"code\":2700,\"kind\":\"ok\""},
        {"services --json", 0, "\"rootsInstalled\":true,\"rootsResult\":2700}"},
        {"roots add --token " + token.string(), 0, "service 1 (KOVRA Time Stamp Service Type-Open-K)\n1 done"},
        {"roots delete 3", 3, "1001 wrong argument"},
        {"roots delete 2 --json", 1, "\"code\":2701,\"kind\":\"error\",\"message\":\"nothing to delete"},
        {"roots delete 0", 0, "1 done"},
        {"roots frob 0", 2, "add, test or delete"},
        {"roots delete --token x", 2, "not a token"},
    };
    for (const auto& step : steps) {
        const CommandRun run = Zorbelu(step.arguments, step.environment);
        EXPECT_EQ(run.status, step.exitStatus) << step.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(step.expected), std::string::npos) << step.arguments << "\n" << run.output;
    }
    // Services 3 and 4 share root 1011 and went with the delete of service 0.
    ExpectStores({1012}, {});
    const CommandRun services = Zorbelu("services --json");
    EXPECT_EQ(services.output.find("\"rootsInstalled\":true"), std::string::npos) << services.output;
}

}  // namespace
