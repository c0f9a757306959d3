// The trust anchors of the services: the embedded certificates, the five
// exports over a temporary "ROOT" and "CA", and zorbelu roots and zorbelu
// services run as a person runs them.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
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

// Which committed certificates the files of a store folder hold, by id,
// sorted; 0 for a file that holds none of them byte for byte.
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

// A time-stamp token for `policy`, signed by a fresh TSA certificate
// (critical timeStamping usage) that the certificate `issuerId` issued with
// its key from tests/data/root_keys.
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
    const fx::ossl::X509Ptr tsa = fx::x509::MakeCertificate(request);
    const std::string tsaDer = fx::x509::CertDer(tsa.get());
    const std::string tsaKeyPem = fx::x509::KeyPem(tsaKey.get());

    ZORBELTSASigner signer;
    std::memset(&signer, 0, sizeof signer);
    signer.privateKey = reinterpret_cast<const uint8_t*>(tsaKeyPem.data());
    signer.privateKeyLength = static_cast<uint32_t>(tsaKeyPem.size());
    signer.certificate = reinterpret_cast<const uint8_t*>(tsaDer.data());
    signer.certificateLength = static_cast<uint32_t>(tsaDer.size());
    std::snprintf(signer.defaultPolicyOid, sizeof signer.defaultPolicyOid, "%s", policy.c_str());

    ZORBELTimeStampRequest ask;
    std::memset(&ask, 0, sizeof ask);
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

// Every test starts with empty, writable "ROOT" and "CA" stores in a
// temporary folder, without the system bundle, and with no confirmation
// answered by the environment.
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
    // Puts the committed certificate into a store folder, as a person would.
    void Install(const std::filesystem::path& folder, uint32_t id, const std::string& bytes = "") const {
        std::filesystem::create_directories(folder);
        std::ofstream(folder / ("by-hand-" + std::to_string(id) + ".cer"), std::ios::binary)
            << (bytes.empty() ? CommittedCert(id) : bytes);
    }

    TempDir dir_;
};

const char kPolicyService0[] = "0.2.440.731846.100.200.100";
const char kPolicyService1[] = "0.2.440.731859.100.200.100";

std::string ResourceBytes(platform::HINSTANCE module, uint32_t id) {
    const ZorbeluBinaryResource* resource = platform::FindResource(module, "CERT", id);
    if (resource == nullptr) return "";
    return std::string(static_cast<const char*>(resource->data), resource->size);
}

// ---- The resources -----------------------------------------------------------

// The exports below find every committed certificate through the library's
// own table (a fingerprint there that is not the file's fails them); the
// German module must carry the same bytes.
TEST(roots_Resources, TheGermanModuleCarriesTheCommittedCertificates) {
    const platform::HINSTANCE german = platform::LoadLibraryA(GERMAN_LANGUAGE_MODULE);
    ASSERT_NE(german, nullptr);
    for (uint32_t id : kCertIds) EXPECT_EQ(ResourceBytes(german, id), CommittedCert(id)) << id;
    platform::FreeLibrary(german);
}

// ---- Exports by service number ------------------------------------------------

using roots_Store = RootStoreTest;

TEST_F(roots_Store, AddingServiceZeroPutsThreeRootsAndOneIntermediateThenNothing) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    EXPECT_EQ(ZORBELUAddRootCertificateToStore(0), ZORBELU_OK);
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1008, 1011, 1080}));
    EXPECT_EQ(StoreIds(ca()), (std::vector<uint32_t>{1081}));
    EXPECT_EQ(ZORBELUAddRootCertificateToStore(0), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(StoreFiles(root()).size(), 3u);
    EXPECT_EQ(StoreFiles(ca()).size(), 1u);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(0), ZORBELU_ROOT_IN_STORE);
    // Service 3 shares root 1011 with service 0.
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(3), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ERR_NOT_FOUND);
}

TEST_F(roots_Store, EachCertificateRemovedByHandIsMissedAndAddedBack) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    for (uint32_t removed : {1008u, 1011u, 1080u, 1081u}) {
        ASSERT_EQ(ZORBELUAddRootCertificateToStore(0), ZORBELU_OK) << removed;
        const std::string bytes = CommittedCert(removed);
        for (const auto& folder : {root(), ca()})
            for (const std::string& name : StoreFiles(folder))
                if (ReadFileBytes(folder / name) == bytes) std::filesystem::remove(folder / name);
        EXPECT_EQ(ZORBELUIsRootCertificateInStore(0), ZORBELU_ERR_NOT_FOUND) << removed;
        EXPECT_EQ(ZORBELUAddRootCertificateToStore(0), ZORBELU_OK) << removed;
        EXPECT_EQ(StoreFiles(root()).size() + StoreFiles(ca()).size(), 4u) << removed;
        EXPECT_EQ(ZORBELUIsRootCertificateInStore(0), ZORBELU_ROOT_IN_STORE) << removed;
        std::filesystem::remove_all(root());
        std::filesystem::remove_all(ca());
    }
}

TEST_F(roots_Store, ACopyWithTheSameNamesCountsAsInstalled) {
    // Installed copies are recognised by subject and issuer name, not bytes.
    Install(root(), 1011, ReadFileBytes(std::filesystem::path(ROOTS_DATA_DIR) / "cert_1011_other_bytes.der"));
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(3), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(ZORBELUAddRootCertificateToStore(4), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(StoreFiles(root()).size(), 1u);
}

TEST_F(roots_Store, ServiceNumbersOutsideTheirRangeAreRefused) {
    const struct {
        const char* what;
        uint32_t (*call)(uint32_t);
        uint32_t service;
        uint32_t result;
    } cases[] = {
        {"add", ZORBELUAddRootCertificateToStore, 5, ZORBELU_ERR_PARAM},
        {"add", ZORBELUAddRootCertificateToStore, 0xFFFFFFFFu, ZORBELU_ERR_PARAM},
        {"test", ZORBELUIsRootCertificateInStore, 5, ZORBELU_ERR_PARAM},
        {"test", ZORBELUIsRootCertificateInStore, 4, ZORBELU_ERR_NOT_FOUND},
        {"delete", ZORBELUDeleteRootCertificateFromStore, 3, ZORBELU_ERR_PARAM},
        {"delete", ZORBELUDeleteRootCertificateFromStore, 4, ZORBELU_ERR_PARAM},
        {"delete", ZORBELUDeleteRootCertificateFromStore, 2, ZORBELU_ERR_NOT_FOUND},
        {"delete", ZORBELUDeleteRootCertificateFromStore, 0, ZORBELU_ERR_NOT_FOUND},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(c.service), c.result) << c.what << " " << c.service;
    // The worker itself: service and operation code.
    EXPECT_EQ(certs::ManageServiceRootCertificates(platform::OwnModuleHandle(), 5, 0, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(certs::ManageServiceRootCertificates(platform::OwnModuleHandle(), 0, 3, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_FALSE(std::filesystem::exists(root()));
}

TEST_F(roots_Store, DeleteRemovesWhatIsInstalled) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    ASSERT_EQ(ZORBELUAddRootCertificateToStore(2), ZORBELU_OK);
    ASSERT_EQ(ZORBELUAddRootCertificateToStore(1), ZORBELU_OK);
    EXPECT_EQ(StoreIds(ca()), (std::vector<uint32_t>{1010}));
    EXPECT_EQ(ZORBELUDeleteRootCertificateFromStore(2), ZORBELU_OK);
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1007, 1012}));
    EXPECT_TRUE(StoreFiles(ca()).empty());
    EXPECT_EQ(ZORBELUDeleteRootCertificateFromStore(2), ZORBELU_ERR_NOT_FOUND);
    // Only part of a service installed: what is there goes.
    std::filesystem::remove(root() / StoreFiles(root()).front());
    EXPECT_EQ(ZORBELUDeleteRootCertificateFromStore(1), ZORBELU_OK);
    EXPECT_TRUE(StoreFiles(root()).empty());
}

TEST_F(roots_Store, ACertificateOfTheReadOnlyBundleIsAccessDenied) {
    // The system bundle shown in "ROOT" is read-only.
    const std::filesystem::path bundle = dir_.path() / "bundle.crt";
    std::ofstream(bundle) << fx::x509::CertDerToPem(CommittedCert(1009));
    stores::SetSystemBundleForTesting(bundle);
    setenv("ZORBELU_SYSTEM_ROOTS", "1", 1);
    Install(ca(), 1010);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(2), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(ZORBELUDeleteRootCertificateFromStore(2), ZORBELU_ERR_ACCESS_DENIED);
    // The row before it was deleted all the same.
    EXPECT_TRUE(StoreFiles(ca()).empty());
    EXPECT_EQ(ZORBELUDeleteRootCertificateFromStore(2), ZORBELU_ERR_ACCESS_DENIED);
    stores::SetSystemBundleForTesting(std::nullopt);
}

// ---- The confirmation ------------------------------------------------------------

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
        platform::headless::Reset();
        for (int answer : c.answers) platform::headless::QueueMessageBoxAnswer(answer);
        EXPECT_EQ(ZORBELUAddRootCertificateToStore(c.service), c.result) << c.service;
        EXPECT_EQ(platform::headless::RecordedMessageBoxes().size(), c.questions) << c.service;
        EXPECT_EQ(StoreIds(root()), c.inRoot) << c.service;
        EXPECT_EQ(StoreIds(ca()), c.inCa) << c.service;
        std::filesystem::remove_all(root());
        std::filesystem::remove_all(ca());
    }
    platform::headless::Reset();
}

TEST_F(roots_Store, TheQuestionNamesTheRootAndItsFingerprint) {
    platform::headless::Reset();
    platform::headless::QueueMessageBoxAnswer(platform::IDNO);
    EXPECT_EQ(ZORBELUAddRootCertificateToStore(1), ZORBELU_ERR_CANCELLED);
    ASSERT_EQ(platform::headless::RecordedMessageBoxes().size(), 1u);
    const std::string& text = platform::headless::RecordedMessageBoxes()[0].text;
    EXPECT_NE(text.find("Kovra Open-K Time-Stamp Root A"), std::string::npos) << text;
    EXPECT_NE(text.find("5E 90 C2 56"), std::string::npos) << text;
    platform::headless::Reset();
}

// ---- A module whose certificate 1011 has other bytes ---------------------------

TEST_F(roots_Store, AFingerprintMismatchFailsEveryServiceOfThatCertificate) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const platform::HINSTANCE module = platform::LoadLibraryA(OTHER_1011_MODULE);
    ASSERT_NE(module, nullptr);
    ASSERT_NE(ResourceBytes(module, 1011), CommittedCert(1011));
    ASSERT_EQ(ResourceBytes(module, 1008), CommittedCert(1008));
    const platform::HINSTANCE previous = frame::AfxGetResourceHandle();
    frame::AfxSetResourceHandle(module);

    const struct {
        const char* what;
        uint32_t (*call)(uint32_t);
        uint32_t service;
        uint32_t result;
    } cases[] = {
        {"test", ZORBELUIsRootCertificateInStore, 0, ZORBELU_ERR_EXCEPTION},
        {"test", ZORBELUIsRootCertificateInStore, 3, ZORBELU_ERR_EXCEPTION},
        {"test", ZORBELUIsRootCertificateInStore, 4, ZORBELU_ERR_EXCEPTION},
        {"add", ZORBELUAddRootCertificateToStore, 3, ZORBELU_ERR_EXCEPTION},
        {"add", ZORBELUAddRootCertificateToStore, 4, ZORBELU_ERR_EXCEPTION},
        {"add", ZORBELUAddRootCertificateToStore, 0, ZORBELU_ERR_EXCEPTION},
        // The other services do not use 1011.
        {"test", ZORBELUIsRootCertificateInStore, 1, ZORBELU_ERR_NOT_FOUND},
        {"add", ZORBELUAddRootCertificateToStore, 2, ZORBELU_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(c.service), c.result) << c.what << " " << c.service;
    // The other rows of service 0 were still walked: its good certificates
    // are added, the bad one is not.
    EXPECT_EQ(StoreIds(ca()), (std::vector<uint32_t>{1010, 1081}));
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1008, 1009, 1080}));
    // So does a delete: the good ones go, the result is the failure.
    EXPECT_EQ(ZORBELUDeleteRootCertificateFromStore(0), ZORBELU_ERR_EXCEPTION);
    EXPECT_EQ(StoreIds(ca()), (std::vector<uint32_t>{1010}));
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1009}));
    // Services 3 and 4 cannot be deleted through the exports; the worker
    // fails on them too.
    for (uint32_t service : {3u, 4u})
        EXPECT_EQ(certs::ManageServiceRootCertificates(module, service, 2, nullptr), ZORBELU_ERR_EXCEPTION);

    frame::AfxSetResourceHandle(previous);
    platform::FreeLibrary(module);
}

TEST_F(roots_Store, AModuleWithoutCertificatesFails) {
    EXPECT_EQ(certs::ManageServiceRootCertificates(nullptr, 1, 0, nullptr), ZORBELU_ERR_EXCEPTION);
}

// ---- Exports by token ----------------------------------------------------------

TEST_F(roots_Store, ATokenUnderRoot1012IsTestedAgainstThatRowOnly) {
    const std::string token = TokenIssuedUnder(1012, kPolicyService1);
    const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token.data()), static_cast<uint32_t>(token.size())};
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ERR_NOT_FOUND);
    Install(root(), 1007);  // the other root of service 1 does not count
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ERR_NOT_FOUND);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ERR_NOT_FOUND);
    std::filesystem::remove_all(root());
    Install(root(), 1012);
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ERR_NOT_FOUND);  // the service needs both roots
    Install(root(), 1007);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ROOT_IN_STORE);
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
        // Through the intermediate up to its root; the other roots of
        // service 0 stay out.
        {1081, kPolicyService0, {1080}, {1081}},
        {1011, "0.2.440.731846.100.200.102", {1011}, {}},
        // Service 2 takes all its rows, whoever issued the TSA certificate.
        {1007, "1.2.410.100001.2.1.7.2", {1009}, {1010}},
    };
    for (const auto& c : cases) {
        const std::string token = TokenIssuedUnder(c.issuer, c.policy);
        const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token.data()), static_cast<uint32_t>(token.size())};
        EXPECT_EQ(ZORBELUAddRootCertificateOfTimeStampToStore(&blob), ZORBELU_OK) << c.issuer;
        EXPECT_EQ(StoreIds(root()), c.inRoot) << c.issuer;
        EXPECT_EQ(StoreIds(ca()), c.inCa) << c.issuer;
        EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ROOT_IN_STORE) << c.issuer;
        EXPECT_EQ(ZORBELUAddRootCertificateOfTimeStampToStore(&blob), ZORBELU_ROOT_IN_STORE) << c.issuer;
        std::filesystem::remove_all(root());
        std::filesystem::remove_all(ca());
    }
}

TEST_F(roots_Store, TokensThatNameNoServiceOrCannotBeReadAreRefused) {
    const std::string foreign = TokenIssuedUnder(1012, "1.3.6.1.4.1.99999.1");
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    const struct {
        const char* what;
        ZORBELUBlob blob;
        bool useBlob;
        uint32_t result;
    } cases[] = {
        {"no token", {nullptr, 0}, false, ZORBELU_ERR_PARAM},
        {"empty token", {junk, 0}, true, ZORBELU_ERR_PARAM},
        {"not a token", {junk, sizeof junk}, true, ZORBELU_ERR_EXCEPTION},
        {"policy of no service",
         {reinterpret_cast<const uint8_t*>(foreign.data()), static_cast<uint32_t>(foreign.size())},
         true,
         ZORBELU_ERR_UNKNOWN_SERVICE},
    };
    for (const auto& c : cases) {
        const ZORBELUBlob* blob = c.useBlob ? &c.blob : nullptr;
        EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(blob), c.result) << c.what;
        EXPECT_EQ(ZORBELUAddRootCertificateOfTimeStampToStore(blob), c.result) << c.what;
    }
    EXPECT_FALSE(std::filesystem::exists(root()));
}

// ---- zorbelu roots and zorbelu services ----------------------------------------

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
    std::ofstream(file, std::ios::binary) << token;
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
    std::ofstream(root() / "copy-1012.pem") << fx::x509::CertDerToPem(CommittedCert(1012));
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
