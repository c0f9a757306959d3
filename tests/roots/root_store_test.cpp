// The trust anchors of the services: the embedded certificates, and the five
// exports over a temporary "ROOT" and "CA".
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <openssl/pem.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "verify/root_store_management.h"
#include "frame/module_state.h"
#include "ui/message_box.h"
#include "platform/module.h"
#include "platform/stores/system_store.h"
#include "ui/ui_headless.h"
#include "roots/roots_support.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::test;

const char kPolicyService0[] = "0.2.440.731846.100.200.100";
const char kPolicyService1[] = "0.2.440.731859.100.200.100";

std::string ResourceBytes(platform::HINSTANCE module, uint32_t id) {
    const ZorbeluBinaryResource* resource = platform::FindResource(module, "CERT", id);
    if (resource == nullptr) return "";
    return std::string(static_cast<const char*>(resource->data), resource->size);
}

X509* Decode(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

// ---- The resources -----------------------------------------------------------

TEST(roots_Resources, LibraryAndGermanModuleCarryTheCommittedCertificates) {
    const platform::HINSTANCE german = platform::LoadLibraryA(GERMAN_LANGUAGE_MODULE);
    ASSERT_NE(german, nullptr);
    for (uint32_t id : kCertIds) {
        const std::string committed = CommittedCert(id);
        EXPECT_EQ(ResourceBytes(platform::OwnModuleHandle(), id), committed) << id;
        EXPECT_EQ(ResourceBytes(german, id), committed) << id;
        EXPECT_EQ(static_cast<uint8_t>(committed[0]), 0x30) << id;
        EXPECT_EQ(static_cast<uint8_t>(committed[1]), 0x82) << id;
    }
    platform::FreeLibrary(german);
}

TEST(roots_Resources, TableFingerprintsAreThoseOfTheCommittedFiles) {
    const uint32_t expectedRows[][2] = {{0, 1008}, {0, 1011}, {0, 1081}, {0, 1080}, {1, 1007},
                                        {1, 1012}, {2, 1010}, {2, 1009}, {3, 1011}, {4, 1011}};
    for (size_t i = 0; i < certs::kServiceRootCount; ++i) {
        const certs::ServiceRoot& row = certs::kServiceRoots[i];
        EXPECT_EQ(row.service, expectedRows[i][0]) << "row " << i + 1;
        EXPECT_EQ(row.resourceId, expectedRows[i][1]) << "row " << i + 1;
        const std::string der = CommittedCert(row.resourceId);
        unsigned char digest[SHA_DIGEST_LENGTH];
        SHA1(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(digest), sizeof digest),
                  std::string(reinterpret_cast<const char*>(row.sha1.data()), row.sha1.size()))
            << "row " << i + 1 << ": run res/certs/make_certs.sh and copy the fingerprints it prints";
    }
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

TEST_F(roots_Store, ServiceOneNeedsBothRoots) {
    Install(root(), 1007);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ERR_NOT_FOUND);
    Install(root(), 1012);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ROOT_IN_STORE);
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
    {
        const std::string der = CommittedCert(1009);
        X509* cert = Decode(der);
        FILE* out = std::fopen(bundle.c_str(), "w");
        ASSERT_NE(out, nullptr);
        PEM_write_X509(out, cert);
        std::fclose(out);
        X509_free(cert);
    }
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
    std::filesystem::remove_all(root());
    Install(root(), 1012);
    EXPECT_EQ(ZORBELUIsRootCertificateOfTimeStampInStore(&blob), ZORBELU_ROOT_IN_STORE);
    EXPECT_EQ(ZORBELUIsRootCertificateInStore(1), ZORBELU_ERR_NOT_FOUND);
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

}  // namespace
