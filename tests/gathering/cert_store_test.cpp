// The stores "ROOT" and "CA" through the store calls: system bundle, add, delete, root confirmation, index.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "certs/cert_store.h"
#include "certs/store_index.h"
#include "platform/stores/folder_index.h"
#include "platform/stores/store_files.h"
#include "ui/message_box.h"
#include "platform/stores/system_store.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"
#include "x509/names.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
using namespace zorbelu::platform;
using test::Bytes;
namespace x509 = fixtures::x509;
namespace views = stores::index;

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
        headless::SetMessageBoxAnswer(IDOK);
        unsetenv("ZORBELU_ROOT_CONFIRM");
    }
    fs::path root() const { return dir_.path() / "stores"; }

    test::TempDir dir_;
};

TEST_F(gathering_Stores, SystemBundleIsShownLastInRootAndIsReadOnly) {
    const std::string own = Root("own"), first = Root("bundle 1"), second = Root("bundle 2");
    const fs::path bundle = dir_.path() / "bundle.crt";
    test::WriteFileBytes(bundle, ToPem(first) + ToPem(second));
    stores::SetSystemBundleForTesting(bundle);
    test::WriteFileBytes(root() / "ROOT" / "zz.cer", own);

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
    test::WriteFileBytes(root() / "CA" / "zz-present.pem", ToPem(present));
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
    test::WriteFileBytes(root() / "CA" / "alone.cer", alone);
    test::WriteFileBytes(root() / "CA" / "pair.pem", ToPem(first) + ToPem(second));

    EXPECT_EQ(Delete("CA", alone), S_OK);
    EXPECT_FALSE(fs::exists(root() / "CA" / "alone.cer"));
    EXPECT_EQ(Delete("CA", first), S_OK);
    EXPECT_EQ(Enumerate("CA"), (std::vector<Seen>{{second, "pair.pem", false}}));
    EXPECT_EQ(FileNames(root() / "CA"), std::vector<std::string>{"pair.pem"});  // no temporary file left
}

// The store root is a regular file: no store folder can be made under it.
TEST_F(gathering_Stores, FoldersWeCannotMakeDenyAccess) {
    const std::string cert = Root("present");
    test::WriteFileBytes(dir_.path() / "plain-file", "x");
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

// Look-ups by subject and Contains follow the files, whatever the remembered views and a forged index say.
constexpr time_t kSettled = 10;  // seconds ahead: what the test wrote counts as settled

struct Cert {
    std::string der;
    std::string subject;  // its simple text, as look-ups ask for it
};

Cert Certificate(const std::string& name) {
    const auto certificate = x509::MakeMonthCertificate(name, "store-change", nullptr, "store-change");
    return {x509::CertDer(certificate.get()), *zorbelu::x509::CertNameToStrSimple(X509_get_subject_name(certificate.get()))};
}

// One index line for `file` as it is, claiming the subjects `texts`.
std::string IndexLine(const fs::path& file, std::initializer_list<std::string> texts, off_t sizeOffset = 0) {
    struct stat s {};
    if (stat(file.c_str(), &s) != 0) return {};
    std::string line;
    for (const long long n : {static_cast<long long>(s.st_dev), static_cast<long long>(s.st_ino),
                              static_cast<long long>(s.st_size + sizeOffset), static_cast<long long>(s.st_mtim.tv_sec),
                              static_cast<long long>(s.st_mtim.tv_nsec), static_cast<long long>(s.st_ctim.tv_sec),
                              static_cast<long long>(s.st_ctim.tv_nsec), static_cast<long long>(texts.size())})
        line += std::to_string(n) + ' ';
    for (const std::string& text : texts) {
        char key[24];
        std::snprintf(key, sizeof key, "%016llx ", static_cast<unsigned long long>(views::KeyOfSubject(text)));
        line += key;
    }
    return line + file.filename().string() + '\n';
}

// An index file of `body`, its digest right or wrong; a takeable one records the folder as it is now.
void WriteIndex(const fs::path& folder, const std::string& body, bool rightDigest, bool takeable) {
    struct stat s {};
    if (stat(folder.c_str(), &s) != 0) return;
    std::string record;
    for (const long long n : {static_cast<long long>(s.st_dev), static_cast<long long>(s.st_ino),
                              static_cast<long long>(s.st_size), static_cast<long long>(s.st_mtim.tv_sec),
                              static_cast<long long>(s.st_mtim.tv_nsec), static_cast<long long>(s.st_ctim.tv_sec),
                              static_cast<long long>(s.st_ctim.tv_nsec),
                              takeable ? static_cast<long long>(time(nullptr) + kSettled) : 0LL, 0LL})
        record += std::to_string(n) + ' ';
    const std::string signedPart = record + "folder\n" + body;
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(signedPart.data()), signedPart.size(), digest);
    if (!rightDigest) digest[0] ^= 1;
    std::string header = "zorbelu-store-index 2 ";
    char hex[3];
    for (const unsigned char byte : digest) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        header += hex;
    }
    test::WriteFileBytes(folder / views::kIndexFileName, header + '\n' + signedPart);
}

struct Row {
    const char* why;
    std::function<void(const fs::path& folder, const Cert& a, const Cert& b)> change;
    time_t laterBy;    // seconds after the first look the second one happens
    bool newProcess;   // the views remembered in memory are forgotten
    bool wantA, wantB;
};

TEST(StoreChanges, LookupsFollowTheFilesNotTheirIndex) {
    const auto copyIn = [](const fs::path& f, const Cert&, const Cert& b) { test::WriteFileBytes(f / "b.der", b.der); };
    const auto rewrite = [](const fs::path& f, const Cert&, const Cert& b) { test::WriteFileBytes(f / "a.der", b.der + "\n"); };
    // An index naming B for a.der: used only when whole and stamped exactly.
    const auto claimB = [](bool rightDigest, off_t sizeOffset, bool takeable) {
        return [=](const fs::path& f, const Cert&, const Cert& b) {
            WriteIndex(f, IndexLine(f / "a.der", {b.subject}, sizeOffset), rightDigest, takeable);
        };
    };
    const Row rows[] = {
        {"a file copied in by hand is found at once (the folder's stamp changed)", copyIn, 0, false, true, true},
        {"a new process does not take an index of the folder as it was before a file was copied in", copyIn, 0,
         true, true, true},
        {"a certificate added through the library is found by a new process at once (the folder's stamp changed)",
         [](const fs::path&, const Cert&, const Cert& b) {
             const auto store = stores::SystemStore::Open("ROOT");
             EXPECT_EQ(store->Add(test::Bytes(b.der), b.der.size()), stores::StoreChange::Done);
         },
         0, true, true, true},
        {"a file removed by hand is no longer shown",
         [](const fs::path& f, const Cert&, const Cert&) { fs::remove(f / "a.der"); }, 0, false, false, false},
        {"a file rewritten in place is seen at the next full look", rewrite, views::kRecheckIntervalSeconds + 1,
         false, false, true},
        {"a new process takes an index younger than a minute: a file rewritten in place is not seen yet", rewrite,
         0, true, false, false},
        {"a file rewritten in place is seen by a new process once the index is a minute old", rewrite,
         views::kIndexTrustSeconds, true, false, true},
        {"an index taken as it is, claiming subjects a file lacks and a file outside the folder, costs only time",
         [](const fs::path& f, const Cert& a, const Cert& b) {
             test::WriteFileBytes(f.parent_path() / "outside.der", b.der);  // named in the index, not in the folder
             WriteIndex(f, IndexLine(f / "a.der", {a.subject, b.subject}) +
                               IndexLine(f.parent_path() / "outside.der", {b.subject}), true, true);
         },
         0, true, true, false},
        {"an index whose digest is wrong is ignored (it would hide A)", claimB(false, 0, true), 0, true, true, false},
        {"a new process takes a file's subjects from an index entry with its exact stamp, without reading it",
         claimB(true, 0, false), 0, true, false, false},
        {"an index entry whose stamp is not the file's is not trusted (it would hide A)", claimB(true, 1, false), 0,
         true, true, false},
    };
    const Cert a = Certificate("Store Change A");
    const Cert b = Certificate("Store Change B");
    std::string otherA = a.der;
    otherA.back() ^= 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        test::TempDir dir;
        setenv("ZORBELU_STORE_DIR", dir.path().c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        const fs::path folder = dir.path() / "ROOT";
        fs::create_directories(folder);
        test::WriteFileBytes(folder / "a.der", a.der);
        stores::files::SetRealTimeOffsetForTesting(kSettled);
        // The first look writes the index file; the next process's records the folder as it stays.
        ASSERT_NE(certs::StoreIndex::Current("ROOT")->FirstWithSubject(a.subject), nullptr);
        views::ForgetViewsForTesting();
        ASSERT_NE(certs::StoreIndex::Current("ROOT")->FirstWithSubject(a.subject), nullptr);
        ASSERT_TRUE(fs::exists(folder / views::kIndexFileName));

        row.change(folder, a, b);
        stores::files::SetRealTimeOffsetForTesting(kSettled + row.laterBy);
        if (row.newProcess) views::ForgetViewsForTesting();
        const auto root = certs::StoreIndex::Current("ROOT");
        const auto store = stores::SystemStore::Open("ROOT");
        EXPECT_EQ(root->FirstWithSubject(a.subject) != nullptr, row.wantA);
        EXPECT_EQ(root->FirstWithSubject(b.subject) != nullptr, row.wantB);
        EXPECT_EQ(store->Contains(test::Bytes(a.der), a.der.size()), row.wantA);
        EXPECT_EQ(store->Contains(test::Bytes(b.der), b.der.size()), row.wantB);
        EXPECT_FALSE(store->Contains(test::Bytes(otherA), otherA.size()));  // A's size, one byte other
        stores::files::SetRealTimeOffsetForTesting(0);
    }
}

}  // namespace
