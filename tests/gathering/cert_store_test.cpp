// The stores "ROOT" and "CA" through the store calls: the read-only system
// bundle, adding, deleting, the confirmation of a root, look-ups by bytes.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "certs/cert_store.h"
#include "ui/message_box.h"
#include "platform/stores/system_store.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
using namespace zorbelu::platform;
using test::Bytes;
namespace x509 = fixtures::x509;

// A self-signed CA certificate valid for a month, DER; `padding` bytes of a private extension make it large.
std::string Root(const std::string& name, uint64_t serial = 1, size_t padding = 0) {
    const time_t now = time(nullptr);
    const auto key = x509::CachedKey("store-root", x509::KeyType::EcP256);
    x509::CertRequest request;
    request.commonName = name;
    request.serial = serial;
    request.key = key.get();
    request.notBefore = now - 3600;
    request.notAfter = now + 2592000;
    request.ca = true;
    request.paddingBytes = padding;
    return x509::CertDer(x509::MakeCertificate(request).get());
}

std::string ToPem(const std::string& der) { return x509::CertDerToPem(der); }
std::string Der(PCCERT_CONTEXT c) { return std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded); }
void WriteFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

using Seen = std::tuple<std::string, std::string, bool>;  // bytes, file name, read-only

std::vector<Seen> Enumerate(const char* name) {
    std::vector<Seen> seen;
    UniqueCertStore store = CertOpenSystemStoreA(nullptr, name);
    if (!store) return seen;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.get(), nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(store.get(), c))
        seen.push_back({Der(c), c->file.filename().string(), c->readOnly});
    return seen;
}

// Adds through a freshly opened store: the last error, S_OK on success.
uint32_t Add(const char* storeName, const std::string& der) {
    UniqueCertStore store = CertOpenSystemStoreA(nullptr, storeName);
    if (!store) return GetLastError();
    const bool added = CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, Bytes(der),
                                                        static_cast<uint32_t>(der.size()), CERT_STORE_ADD_NEW, nullptr);
    return added ? S_OK : GetLastError();
}

// Deletes the first certificate of the store with these bytes: the last error.
uint32_t Delete(const char* storeName, const std::string& der) {
    UniqueCertStore store = CertOpenSystemStoreA(nullptr, storeName);
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.get(), nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(store.get(), c))
        if (Der(c) == der) return CertDeleteCertificateFromStore(c) ? S_OK : GetLastError();
    return CRYPT_E_NOT_FOUND;
}

// The folder's files, but for the writers' lock file.
std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != ".zorbelu.lock" && entry.path().filename() != ".zorbelu.index")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class gathering_Stores : public testing::Test {
protected:
    void SetUp() override {
        setenv("ZORBELU_UI", "headless", 1);
        setenv("ZORBELU_STORE_DIR", root().c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        unsetenv("ZORBELU_ROOT_CONFIRM");
        headless::SetMessageBoxAnswer(IDOK);
        headless::ClearRecordedMessageBoxes();
    }
    void TearDown() override {
        stores::SetSystemBundleForTesting(std::nullopt);
        stores::SetBeforeRenameHookForTesting(nullptr);
        headless::SetMessageBoxAnswer(IDOK);
        unsetenv("ZORBELU_ROOT_CONFIRM");
    }
    fs::path root() const { return dir_.path() / "stores"; }

    test::TempDir dir_;
};

TEST_F(gathering_Stores, SystemBundleIsShownLastInRootAndIsReadOnly) {
    const std::string own = Root("own"), first = Root("bundle 1"), second = Root("bundle 2");
    const fs::path bundle = dir_.path() / "bundle.crt";
    WriteFile(bundle, ToPem(first) + ToPem(second));
    stores::SetSystemBundleForTesting(bundle);
    WriteFile(root() / "ROOT" / "zz.cer", own);

    EXPECT_EQ(Enumerate("ROOT"), (std::vector<Seen>{{own, "zz.cer", false}}));  // ZORBELU_SYSTEM_ROOTS=0
    setenv("ZORBELU_SYSTEM_ROOTS", "1", 1);
    EXPECT_EQ(Enumerate("ROOT"), (std::vector<Seen>{{own, "zz.cer", false},
                                                    {first, "bundle.crt", true},
                                                    {second, "bundle.crt", true}}));
    EXPECT_TRUE(Enumerate("CA").empty());

    EXPECT_EQ(Delete("ROOT", second), E_ACCESSDENIED);
    EXPECT_EQ(test::ReadFileBytes(bundle), ToPem(first) + ToPem(second));
    // Already there through the bundle: nothing asked, nothing written.
    EXPECT_EQ(Add("ROOT", first), CRYPT_E_EXISTS);
    EXPECT_TRUE(headless::RecordedMessageBoxes().empty());
    EXPECT_EQ(FileNames(root() / "ROOT"), std::vector<std::string>{"zz.cer"});
}

TEST_F(gathering_Stores, AddNewWritesDerUnderANameAfterEveryOther) {
    const std::string present = Root("present"), first = Root("first"), second = Root("second");
    WriteFile(root() / "CA" / "zz-present.pem", ToPem(present));
    EXPECT_EQ(Add("CA", ToPem(first)), E_INVALIDARG);  // DER only
    EXPECT_EQ(Add("CA", first), S_OK);
    EXPECT_EQ(Add("CA", first), CRYPT_E_EXISTS);
    EXPECT_EQ(Add("CA", present), CRYPT_E_EXISTS);
    EXPECT_EQ(Add("CA", second), S_OK);
    EXPECT_EQ(Enumerate("CA"), (std::vector<Seen>{{present, "zz-present.pem", false},
                                                  {first, "zz-present~000001.cer", false},
                                                  {second, "zz-present~000002.cer", false}}));
}

TEST_F(gathering_Stores, DeleteRemovesTheFileOrRewritesASharedOne) {
    const std::string alone = Root("alone"), first = Root("first"), second = Root("second");
    WriteFile(root() / "CA" / "alone.cer", alone);
    WriteFile(root() / "CA" / "pair.pem", ToPem(first) + ToPem(second));

    EXPECT_EQ(Delete("CA", alone), S_OK);
    EXPECT_FALSE(fs::exists(root() / "CA" / "alone.cer"));
    EXPECT_EQ(Delete("CA", first), S_OK);
    EXPECT_EQ(Enumerate("CA"), (std::vector<Seen>{{second, "pair.pem", false}}));
    EXPECT_EQ(FileNames(root() / "CA"), std::vector<std::string>{"pair.pem"});  // no temporary file left
}

// The store root is a regular file: no store folder can be made under it.
TEST_F(gathering_Stores, FoldersWeCannotMakeDenyAccess) {
    const std::string cert = Root("present");
    WriteFile(dir_.path() / "plain-file", "x");
    for (const fs::path& storeDir : {dir_.path() / "plain-file", dir_.path() / "plain-file" / "below"}) {
        setenv("ZORBELU_STORE_DIR", storeDir.c_str(), 1);
        EXPECT_TRUE(Enumerate("CA").empty());
        EXPECT_EQ(Add("CA", cert), E_ACCESSDENIED);
    }
}

std::string Sha1Text(const std::string& der) {  // "AB 01 ..."
    unsigned char digest[SHA_DIGEST_LENGTH];
    std::string text;
    for (unsigned char byte : std::string_view(reinterpret_cast<char*>(SHA1(Bytes(der), der.size(), digest)), 20))
        text += std::string(text.empty() ? "" : " ") + "0123456789ABCDEF"[byte >> 4] + "0123456789ABCDEF"[byte & 15];
    return text;
}

TEST_F(gathering_Stores, AddingARootIsConfirmedFirst) {
    const struct {
        int answer;           // what the person presses; IDOK: nobody answers
        const char* confirm;  // ZORBELU_ROOT_CONFIRM, or nullptr
        bool added;
    } cases[] = {
        {IDYES, nullptr, true}, {IDNO, nullptr, false}, {IDNO, "yes", false}, {IDYES, "no", true},
        {IDOK, nullptr, false}, {IDOK, "YES", true},    {IDOK, "1", false},
    };
    const std::string cert = Root("Confirm Root");
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "answer " << c.answer << ", confirm "
                                        << (c.confirm ? c.confirm : "(unset)"));
        fs::remove_all(root());
        headless::ClearRecordedMessageBoxes();
        headless::SetMessageBoxAnswer(c.answer);
        c.confirm ? setenv("ZORBELU_ROOT_CONFIRM", c.confirm, 1) : unsetenv("ZORBELU_ROOT_CONFIRM");

        EXPECT_EQ(Add("ROOT", cert), c.added ? S_OK : ERROR_CANCELLED);
        EXPECT_EQ(Enumerate("ROOT").size(), c.added ? 1u : 0u);
        ASSERT_EQ(headless::RecordedMessageBoxes().size(), 1u);  // never silent
        const RecordedMessageBox& box = headless::RecordedMessageBoxes().front();
        EXPECT_EQ(box.type, MB_YESNO | MB_ICONQUESTION);
        EXPECT_NE(box.text.find("DE, Zorbelu Test PKI, Confirm Root"), std::string::npos) << box.text;
        EXPECT_NE(box.text.find(Sha1Text(cert)), std::string::npos) << box.text;
    }
}

// A certificate of the same size, one byte other, is not the one in the store.
TEST_F(gathering_Stores, ContainsComparesTheBytes) {
    const std::string cert = Root("contained");
    std::string other = cert;
    other.back() ^= 1;
    WriteFile(root() / "ROOT" / "a.der", cert);
    const auto store = stores::SystemStore::Open("ROOT");
    EXPECT_TRUE(store->Contains(Bytes(cert), cert.size()));
    EXPECT_FALSE(store->Contains(Bytes(other), other.size()));
}

}  // namespace
