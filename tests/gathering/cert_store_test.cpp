// The stores "ROOT" and "CA" through the store calls (bundle, add, delete, root confirmation, index); certificate
// gathering on the served fixture PKI: the store walk, the chain engine, ZORBELUGetCertificates.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "certs/cert_store.h"
#include "certs/certificate_decoding.h"
#include "certs/chain_engine.h"
#include "certs/store_index.h"
#include "certs/zorbelutil_lib.h"
#include "frame/app.h"
#include "platform/stores/folder_index.h"
#include "platform/stores/store_files.h"
#include "ui/message_box.h"
#include "platform/stores/system_store.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"
#include "verify/certificate_gathering.h"
#include "x509/names.h"
#include "x509/ossl_ptr.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
using namespace zorbelu::platform;
using test::Bytes;
using test::WriteFileBytes;
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
    WriteFileBytes(bundle, ToPem(first) + ToPem(second));
    stores::SetSystemBundleForTesting(bundle);
    WriteFileBytes(root() / "ROOT" / "zz.cer", own);

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
    WriteFileBytes(root() / "CA" / "zz-present.pem", ToPem(present));
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
    WriteFileBytes(root() / "CA" / "alone.cer", alone);
    WriteFileBytes(root() / "CA" / "pair.pem", ToPem(first) + ToPem(second));

    EXPECT_EQ(Delete("CA", alone), S_OK);
    EXPECT_FALSE(fs::exists(root() / "CA" / "alone.cer"));
    EXPECT_EQ(Delete("CA", first), S_OK);
    EXPECT_EQ(Enumerate("CA"), (std::vector<Seen>{{second, "pair.pem", false}}));
    EXPECT_EQ(FileNames(root() / "CA"), std::vector<std::string>{"pair.pem"});  // no temporary file left
}

// The store root is a regular file: no store folder can be made under it.
TEST_F(gathering_Stores, FoldersWeCannotMakeDenyAccess) {
    const std::string cert = Root("present");
    WriteFileBytes(dir_.path() / "plain-file", "x");
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

struct Made {
    std::string der;
    std::string subject;  // its simple text, as look-ups ask for it
};

Made Certificate(const std::string& name) {
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
    WriteFileBytes(folder / views::kIndexFileName, header + '\n' + signedPart);
}

struct Row {
    const char* why;
    std::function<void(const fs::path& folder, const Made& a, const Made& b)> change;
    time_t laterBy;    // seconds after the first look the second one happens
    bool newProcess;   // the views remembered in memory are forgotten
    bool wantA, wantB;
};

TEST(StoreChanges, LookupsFollowTheFilesNotTheirIndex) {
    const auto copyIn = [](const fs::path& f, const Made&, const Made& b) { WriteFileBytes(f / "b.der", b.der); };
    const auto rewrite = [](const fs::path& f, const Made&, const Made& b) { WriteFileBytes(f / "a.der", b.der + "\n"); };
    // An index naming B for a.der: used only when whole and stamped exactly.
    const auto claimB = [](bool rightDigest, off_t sizeOffset, bool takeable) {
        return [=](const fs::path& f, const Made&, const Made& b) {
            WriteIndex(f, IndexLine(f / "a.der", {b.subject}, sizeOffset), rightDigest, takeable);
        };
    };
    const Row rows[] = {
        {"a file copied in by hand is found at once (the folder's stamp changed)", copyIn, 0, false, true, true},
        {"a new process does not take an index of the folder as it was before a file was copied in", copyIn, 0,
         true, true, true},
        {"a certificate added through the library is found by a new process at once (the folder's stamp changed)",
         [](const fs::path&, const Made&, const Made& b) {
             const auto store = stores::SystemStore::Open("ROOT");
             EXPECT_EQ(store->Add(test::Bytes(b.der), b.der.size()), stores::StoreChange::Done);
         },
         0, true, true, true},
        {"a file removed by hand is no longer shown",
         [](const fs::path& f, const Made&, const Made&) { fs::remove(f / "a.der"); }, 0, false, false, false},
        {"a file rewritten in place is seen at the next full look", rewrite, views::kRecheckIntervalSeconds + 1,
         false, false, true},
        {"a new process takes an index younger than a minute: a file rewritten in place is not seen yet", rewrite,
         0, true, false, false},
        {"a file rewritten in place is seen by a new process once the index is a minute old", rewrite,
         views::kIndexTrustSeconds, true, false, true},
        {"an index taken as it is, claiming subjects a file lacks and a file outside the folder, costs only time",
         [](const fs::path& f, const Made& a, const Made& b) {
             WriteFileBytes(f.parent_path() / "outside.der", b.der);  // named in the index, not in the folder
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
    const Made a = Certificate("Store Change A");
    const Made b = Certificate("Store Change B");
    std::string otherA = a.der;
    otherA.back() ^= 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        test::TempDir dir;
        setenv("ZORBELU_STORE_DIR", dir.path().c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        const fs::path folder = dir.path() / "ROOT";
        fs::create_directories(folder);
        WriteFileBytes(folder / "a.der", a.der);
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

using certs::WalkEnd;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Store;
using fixtures::Tsa;
using fixtures::ossl::X509Ptr;
using Ders = std::vector<std::string>;

// The odd certificates of these tests, each valid for a month, DER.
std::string Cert(const std::string& name, const std::string& key, X509* issuer, const std::string& signer,
                 X509Ptr* keep = nullptr, bool ca = true) {
    X509Ptr made = x509::MakeMonthCertificate(name, key, issuer, signer, ca);
    std::string der = x509::CertDer(made.get());
    if (keep != nullptr) *keep = std::move(made);
    return der;
}

std::string Text(const uint8_t* data, uint32_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

// The records of an array up to its terminator, which must be all zeros.
Ders Records(const ZORBELUCertBlob* array) {
    Ders records;
    size_t i = 0;
    for (; array != nullptr && array[i].data != nullptr; ++i) records.push_back(Text(array[i].data, array[i].length));
    EXPECT_TRUE(array == nullptr || array[i].length + array[i].encoding == 0u);
    return records;
}

struct CoreStore {
    ZORBELCertStore* store = ZORBELCreateCertStore();
    ~CoreStore() { ZORBELFreeCertStore(store); }
};

class gathering_Chains : public testing::Test {
protected:
    const std::string& Der(Ca ca) { return served_.pki().CertDer(ca); }
    const std::string& Der(Tsa tsa) { return served_.pki().CertDer(tsa); }
    void Install(Store store, Ca ca) { served_.pki().InstallInStore(served_.storeDir(), store, ca); }
    void Write(Store store, const std::string& name, const std::string& der) {
        fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), store, name, der);
    }
    UniqueCertChain Chain(const std::string& der, uint32_t flags = CERT_CHAIN_REVOCATION_CHECK_END_CERT) {
        const UniqueCertContext context(
            CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(der), static_cast<uint32_t>(der.size())));
        CERT_CHAIN_PARA parameters;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        EXPECT_TRUE(
            CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, &parameters, flags, nullptr, &chain));
        return UniqueCertChain(chain);
    }
    static Ders Elements(const CERT_CHAIN_CONTEXT& chain) {
        Ders ders;
        for (const CERT_CHAIN_ELEMENT& element : chain.rgpChain.at(0).rgpElement)
            ders.push_back(Text(element.pCertContext->pbCertEncoded, element.pCertContext->cbCertEncoded));
        return ders;
    }

    struct Gathered {
        static inline int sentinel = 0;
        uint32_t result = 0;
        ZORBELUBlob tsa{};
        ZORBELUCertBlob* ca = reinterpret_cast<ZORBELUCertBlob*>(&sentinel);
        ZORBELUCertBlob* crls = reinterpret_cast<ZORBELUCertBlob*>(&sentinel);
        bool untouched(ZORBELUCertBlob* out) const { return out == reinterpret_cast<ZORBELUCertBlob*>(&sentinel); }
        ~Gathered() {
            if (result != ZORBELU_OK) return;
            for (ZORBELUCertBlob** out : {&ca, &crls})
                EXPECT_TRUE(*out == nullptr || ZORBELUFreeCertificates(out) == ZORBELU_OK);
        }
    };
    void Gather(Gathered& out, const std::string& token) {
        const ZORBELUBlob blob{Bytes(token), static_cast<uint32_t>(token.size())};
        out.result = ZORBELUGetCertificates(&blob, 5000, nullptr, &out.tsa, &out.ca, &out.crls);
    }

    test::ServedPki served_;
};

// The gathering's walk and the chain engine on the same stores: which issuer is taken, and where each ends.
TEST_F(gathering_Chains, WalkAndChainEngineEndWhereTheyMust) {
    // A and B name and sign each other; X names itself but another key signed it.
    X509Ptr stubB, stubX, a, x;
    Cert("B", "b", nullptr, "b", &stubB);
    Cert("X", "x", nullptr, "x", &stubX);
    const std::string certA = Cert("A", "a", stubB.get(), "b", &a), certB = Cert("B", "b", a.get(), "a");
    const std::string certX = Cert("X", "x", stubX.get(), "other", &x);
    const std::string underA = Cert("end", "end", a.get(), "a", nullptr, false);
    const std::string underX = Cert("end", "end", x.get(), "x", nullptr, false);
    // root <- ca1 <- ... <- ca11 <- end: the root is 13th, beyond the bound.
    std::vector<X509Ptr> cas(12);
    Ders longChain{Cert("ca0", "ca0", nullptr, "ca0", &cas[0])};
    for (int i = 1; i <= 11; ++i)
        longChain.push_back(Cert("ca" + std::to_string(i), "ca" + std::to_string(i), cas[i - 1].get(),
                                 "ca" + std::to_string(i - 1), &cas[i]));
    const std::string underLong = Cert("end", "end", cas[11].get(), "ca11", nullptr, false);
    std::vector<std::pair<Store, std::string>> longStores{{Store::Root, longChain[0]}};
    for (size_t i = 1; i < longChain.size(); ++i) longStores.emplace_back(Store::Ca, longChain[i]);
    const Ders longWalk(longChain.rbegin(), longChain.rbegin() + 10);

    const struct {
        const char* what;
        std::vector<std::pair<Store, std::string>> stores;
        std::string certificate;
        uint32_t result;
        WalkEnd end;
        Ders list;  // after the certificate itself
        Ders core;
        std::optional<uint32_t> chainErrors;  // the chain engine without revocation
        size_t chainLength;
    } cases[] = {
        {"intermediate in CA, root in ROOT", {{Store::Ca, Der(Ca::Intermediate)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::Good), ZORBELU_OK, WalkEnd::RootReached, {Der(Ca::Intermediate)},
         {Der(Ca::Intermediate), Der(Ca::Root)}, CERT_TRUST_NO_ERROR, 3},
        {"a root kept in CA is passed over for ROOT", {{Store::Ca, Der(Ca::Root)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::UnderRoot), ZORBELU_OK, WalkEnd::RootReached, {}, {Der(Ca::Root)}, CERT_TRUST_NO_ERROR, 2},
        {"no root", {{Store::Ca, Der(Ca::Intermediate)}}, Der(Tsa::Good), ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NotFound,
         {Der(Ca::Intermediate)}, {Der(Ca::Intermediate)}, CERT_TRUST_IS_UNTRUSTED_ROOT, 3},
        {"CA certificates naming each other", {{Store::Ca, certA}, {Store::Ca, certB}}, underA,
         ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NameRepeated, {certA, certB}, {certA, certB},
         CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC, 3},
        {"self-issued non-root in CA", {{Store::Ca, certX}}, underX, ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NotFound, {},
         {}, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_SIGNATURE_VALID, 2},
        {"longer than the bound", longStores, underLong, ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::LengthLimit, longWalk,
         longWalk, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_EXCEEDS_LENGTH_LIMIT, kMaxChainLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(served_.storeDir());
        int n = 0;
        for (const auto& [store, der] : c.stores) Write(store, "c" + std::to_string(n++) + ".cer", der);
        certs::CertList list;
        CoreStore core;
        WalkEnd why = WalkEnd::Undecodable;
        const std::string& der = c.certificate;
        X509* certificate = certs::DecodeCertificate(Bytes(der), static_cast<int32_t>(der.size()), 2);
        list.Append(certificate);
        EXPECT_EQ(certs::BuildChainFromSystemStores(core.store, list, certificate, &why), c.result);
        EXPECT_EQ(why, c.end);
        Ders expectedList{c.certificate}, listed, nodes;
        expectedList.insert(expectedList.end(), c.list.begin(), c.list.end());
        for (const ZORBELUPRVCertInfo& item : list) listed.push_back(x509::CertDer(item.cert));
        EXPECT_EQ(listed, expectedList);
        for (const ZORBELCertNode* node = core.store->caCerts; node != nullptr; node = node->next)
            nodes.push_back(Text(node->data, node->length));
        EXPECT_EQ(nodes, c.core);
        if (!c.chainErrors) continue;
        const UniqueCertChain chain = Chain(c.certificate, 0);
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, *c.chainErrors);
        EXPECT_EQ(chain->rgpChain.at(0).rgpElement.size(), c.chainLength);
    }
}

TEST_F(gathering_Chains, ChainEngineKeepsNoForgedIssuerFetchedThroughCaIssuers) {
    Install(Store::Root, Ca::Root);
    // A forged intermediate's chain ends at a root of the right name and another key: it is not kept.
    const UniqueCertChain forged = Chain(Der(Tsa::LookAlike));
    EXPECT_EQ(forged->TrustStatus.dwErrorStatus, CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN);
    EXPECT_EQ(Elements(*forged), (Ders{Der(Tsa::LookAlike), Der(Ca::LookAlikeIntermediate), Der(Ca::LookAlikeRoot)}));
    EXPECT_FALSE(fs::exists(served_.storeDir() / "CA"));
}

TEST_F(gathering_Chains, ChainEngineSetsTheErrorBitOfEachFailure) {
    const uint32_t revocation = CERT_CHAIN_REVOCATION_CHECK_END_CERT, offline =
        CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    const struct {
        const char* what;
        Tsa tsa;
        bool intermediateInCa;
        uint32_t flags;
        const char* failingPath;  // answered with 404
        uint32_t errors;
        size_t length;
    } cases[] = {
        {"trusted", Tsa::Good, true, revocation, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"intermediate fetched", Tsa::Good, false, revocation, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"revoked", Tsa::Revoked, true, revocation, nullptr, CERT_TRUST_IS_REVOKED, 3},
        {"expired", Tsa::Expired, true, revocation, nullptr, CERT_TRUST_IS_NOT_TIME_VALID, 3},
        {"not yet valid", Tsa::NotYetValid, true, 0, nullptr, CERT_TRUST_IS_NOT_TIME_VALID, 3},
        {"expired CRL", Tsa::ExpiredCrl, true, revocation, nullptr, offline, 3},
        {"CRL unavailable", Tsa::Good, true, revocation, "/crl/intermediate.crl", offline, 3},
        {"no distribution point", Tsa::NoCdp, true, revocation, nullptr, CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 3},
        {"issuer unavailable", Tsa::Good, false, 0, "/aia/intermediate.cer", CERT_TRUST_IS_PARTIAL_CHAIN, 1},
        {"self-signed, not in ROOT", Tsa::SelfIssued, false, revocation, nullptr, CERT_TRUST_IS_UNTRUSTED_ROOT, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(served_.storeDir());
        for (const char* path : {"/crl/intermediate.crl", "/aia/intermediate.cer"}) served_.server().clearPath(path);
        served_.server().serveFile("/crl/intermediate.crl", served_.pki().CrlBytes(Crl::Intermediate));
        served_.server().serveFile("/aia/intermediate.cer", Der(Ca::Intermediate));
        if (c.failingPath != nullptr) served_.server().setStatus(c.failingPath, 404);
        if (c.intermediateInCa) Install(Store::Ca, Ca::Intermediate);
        Install(Store::Root, Ca::Root);
        const UniqueCertChain chain = Chain(Der(c.tsa), c.flags);
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, c.errors);
        EXPECT_EQ(chain->rgpChain.at(0).TrustStatus.dwErrorStatus, c.errors);
        EXPECT_EQ(chain->rgpChain.at(0).rgpElement.size(), c.length);
    }
}

TEST_F(gathering_Chains, ChainEngineTriesFewOfManyIssuerUrls) {
    EXPECT_EQ(Chain(Der(Tsa::ManyIssuerUrls), 0)->TrustStatus.dwErrorStatus, CERT_TRUST_IS_PARTIAL_CHAIN);
    size_t tried = 0;  // every URL answers 404 at once
    for (const std::string& path : fixtures::FixturePki::ManyIssuerUrlPaths())
        tried += served_.server().requestCount(path);
    EXPECT_EQ(tried, kMaxIssuerUrls);
}

TEST_F(gathering_Chains, GetCertificatesGivesTheChainAndOneCrlPerListElement) {
    Install(Store::Root, Ca::Root);
    for (int run = 0; run < 2; ++run) {  // fetched through caIssuers once, then found in "CA"
        Gathered got;
        Gather(got, served_.pki().Token("aia-only-sha256"));
        ASSERT_EQ(got.result, ZORBELU_OK);
        EXPECT_EQ(Records(got.ca), (Ders{Der(Ca::AiaIntermediate), Der(Ca::Root)}));
        EXPECT_EQ(Records(got.crls).size(), 2u);
    }
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);

    Install(Store::Ca, Ca::Intermediate);
    Gathered got;
    Gather(got, served_.pki().Token("good-sha256"));
    ASSERT_EQ(got.result, ZORBELU_OK);
    EXPECT_EQ(Text(got.tsa.data, got.tsa.length), Der(Tsa::Good));
    EXPECT_EQ(got.tsa.data, frame::AccessScratchBuffer(frame::kTsaCertBuffer).data);
    EXPECT_EQ(Records(got.ca), (Ders{Der(Ca::Intermediate), Der(Ca::Root)}));
    EXPECT_EQ(got.ca[0].encoding, 2u);
    EXPECT_EQ(Records(got.crls), (Ders{served_.pki().CrlBytes(Crl::Intermediate), served_.pki().CrlBytes(Crl::Root)}));
}

TEST_F(gathering_Chains, GetCertificatesFailures) {
    const struct {
        const char* token;
        bool installChain;
        const char* failingPath;  // answered with 404
        uint32_t result;
        bool caNull;  // *caOut set to NULL (2704); otherwise untouched
    } cases[] = {
        {"self-issued-sha256", true, nullptr, ZORBELU_ERR_SELF_ISSUED, true},
        {"good-sha256-nocert", true, nullptr, ZORBELU_ERR_TSA_CERT, false},
        {"good-sha256-truncated", true, nullptr, ZORBELU_ERR_EXCEPTION, false},
        {"good-sha256", false, nullptr, ZORBELU_ERR_NOT_FOUND, false},
        {"no-cdp-sha256", true, nullptr, ZORBELU_ERR_CDP, false},
        {"good-sha256", true, "/crl/intermediate.crl", ZORBELU_ERR_CRL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.token << " " << (c.failingPath ? c.failingPath : ""));
        fs::remove_all(served_.storeDir());
        if (c.installChain) Install(Store::Ca, Ca::Intermediate), Install(Store::Root, Ca::Root);
        served_.server().clearPath("/crl/intermediate.crl");
        served_.server().serveFile("/crl/intermediate.crl", served_.pki().CrlBytes(Crl::Intermediate));
        if (c.failingPath != nullptr) served_.server().setStatus(c.failingPath, 404);
        Gathered got;
        Gather(got, served_.pki().Token(c.token));
        EXPECT_EQ(got.result, c.result);
        EXPECT_TRUE(c.caNull ? got.ca == nullptr : got.untouched(got.ca));
        EXPECT_TRUE(got.untouched(got.crls));
    }
}

TEST_F(gathering_Chains, GetCertificatesAndFreeCertificatesRefusals) {
    Install(Store::Ca, Ca::Intermediate);
    Install(Store::Root, Ca::Root);
    const std::string& token = served_.pki().Token("good-sha256");
    const ZORBELUBlob good{Bytes(token), static_cast<uint32_t>(token.size())}, empty{Bytes(token), 0},
        noData{nullptr, 10};
    ZORBELUBlob tsa{};
    ZORBELUCertBlob *ca = nullptr, *crls = nullptr;
    ZORBELUProxyInfo proxy{};
    proxy.proxyMode = 7;
    const struct {
        const ZORBELUBlob* token;
        ZORBELUProxyInfo* proxy;
        ZORBELUBlob* tsa;
        ZORBELUCertBlob** ca;
    } refused[] = {{nullptr, nullptr, &tsa, &ca}, {&empty, nullptr, &tsa, &ca}, {&noData, nullptr, &tsa, &ca},
                   {&good, nullptr, nullptr, &ca}, {&good, nullptr, &tsa, nullptr}, {&good, &proxy, &tsa, &ca}};
    for (const auto& c : refused)
        EXPECT_EQ(ZORBELUGetCertificates(c.token, 0, c.proxy, c.tsa, c.ca, &crls), ZORBELU_ERR_PARAM);
    // A NULL CRL output is refused only at the end, after all the work.
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, nullptr, &tsa, &ca, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(Text(tsa.data, tsa.length), Der(Tsa::Good));
    EXPECT_EQ(ca, nullptr);

    // Refusals free nothing (the sanitizer pass would see a double free).
    uint8_t byte = 0x30;
    ZORBELUCertBlob* none = nullptr;
    ZORBELUCertBlob* terminatorFirst = new ZORBELUCertBlob[1]();
    ZORBELUCertBlob* emptyFirst = new ZORBELUCertBlob[2]{{&byte, 0, 2}, {}};
    EXPECT_EQ(ZORBELUFreeCertificates(nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&none), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&terminatorFirst), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&emptyFirst), ZORBELU_ERR_PARAM);
    delete[] terminatorFirst;
    delete[] emptyFirst;
}

}  // namespace
