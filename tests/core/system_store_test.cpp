// Reading the directory stores: order, formats, the bundle switch.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/stores/store_files.h"
#include "platform/stores/system_store.h"

namespace zorbelu::stores {
namespace {

namespace fs = std::filesystem;

DerCertificate MakeCert(const char* name) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int size = i2d_X509(cert, &der);
    DerCertificate bytes(der, der + size);
    OPENSSL_free(der);
    X509_free(cert);
    EVP_PKEY_free(key);
    return bytes;
}

std::string Pem(const DerCertificate& der) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(size));
    BIO_free(bio);
    X509_free(cert);
    return text;
}

class core_SystemStore : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorbelstores.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("ZORBELU_STORE_DIR", root_.c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
    }
    void TearDown() override {
        fs::remove_all(root_);
        unsetenv("ZORBELU_STORE_DIR");
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        SetSystemBundleForTesting(std::nullopt);
        files::SetRealTimeOffsetForTesting(0);
    }
    void Write(const std::string& relative, const std::string& bytes) {
        fs::create_directories((fs::path(root_) / relative).parent_path());
        std::ofstream(fs::path(root_) / relative, std::ios::binary) << bytes;
    }
    std::string root_;
};

TEST_F(core_SystemStore, ByteOrderOfNamesAndBothEncodings) {
    const DerCertificate a = MakeCert("a"), b = MakeCert("b"), c = MakeCert("c");
    Write("ROOT/B.pem", Pem(b));
    Write("ROOT/a.der", std::string(a.begin(), a.end()));
    Write("ROOT/C.cer", std::string(c.begin(), c.end()));
    Write("ROOT/notes.txt", "not a certificate");
    Write("ROOT/broken.crt", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
    const auto store = SystemStore::Open("root");
    ASSERT_TRUE(store.has_value());
    EXPECT_EQ(store->Certificates(), (std::vector<DerCertificate>{b, c, a}));  // "B" < "C" < "a"
    EXPECT_TRUE(store->Contains(c.data(), c.size()));
    const DerCertificate absent = MakeCert("absent");
    EXPECT_FALSE(store->Contains(absent.data(), absent.size()));
    EXPECT_TRUE(SystemStore::Open("CA")->Certificates().empty());
}

TEST_F(core_SystemStore, NamesAndFolder) {
    EXPECT_FALSE(SystemStore::Open("MY").has_value());
    EXPECT_EQ(SystemStore::Open("ca")->Folder(), fs::path(root_) / "CA");
    unsetenv("ZORBELU_STORE_DIR");
    setenv("XDG_DATA_HOME", "/x/data", 1);
    EXPECT_EQ(StoreRootFolder(), fs::path("/x/data/zorbelutilnd/stores"));
    unsetenv("XDG_DATA_HOME");
}

TEST_F(core_SystemStore, SystemBundleFollowsTheSwitch) {
    if (!fs::exists(kSystemBundle)) GTEST_SKIP() << "no system bundle on this machine";
    EXPECT_TRUE(SystemStore::Open("ROOT")->Certificates().empty());
    setenv("ZORBELU_SYSTEM_ROOTS", "1", 1);
    EXPECT_GT(SystemStore::Open("ROOT")->Certificates().size(), 10u);
    EXPECT_TRUE(SystemStore::Open("CA")->Certificates().empty());  // the bundle shows in ROOT only
}

// An hour back: a later change cannot leave the same time.
void DateBack(const fs::path& path) {
    const timespec times[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::vector<DerCertificate> Ders(const StoreContents& contents) {
    std::vector<DerCertificate> ders;
    for (const StoreEntry& entry : contents.entries) ders.push_back(entry.der);
    return ders;
}

// What a store showed is answered again while nothing of it changed. Every
// kind of change must show at the next look, even once all that was read
// counts as settled (its times well in the past).
TEST_F(core_SystemStore, EveryKindOfChangeShowsAtTheNextLook) {
    const DerCertificate a = MakeCert("a"), b = MakeCert("b");
    DerCertificate c = MakeCert("c");
    while (c.size() != a.size()) c = MakeCert("c");  // a rewrite that keeps the size
    const auto write = [](const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    };
    const std::string derC(c.begin(), c.end());
    const struct {
        const char* what;
        std::function<void(const fs::path& folder, const fs::path& bundle)> change;
        std::vector<DerCertificate> after;
    } cases[] = {
        {"a file rewritten in place, same size", [&](auto& folder, auto&) { write(folder / "1.cer", derC); },
         {c, b, a}},
        {"a file added", [&](auto& folder, auto&) { write(folder / "3.cer", derC); }, {a, b, c, a}},
        {"a file removed", [&](auto& folder, auto&) { fs::remove(folder / "2.cer"); }, {a, a}},
        {"a file replaced by a rename",
         [&](auto& folder, auto&) {
             write(folder / "new.tmp", derC);
             fs::rename(folder / "new.tmp", folder / "1.cer");
         },
         {c, b, a}},
        {"the bundle rewritten in place, same size", [&](auto&, auto& bundle) { write(bundle, Pem(c)); }, {a, b, c}},
    };
    setenv("ZORBELU_SYSTEM_ROOTS", "1", 1);
    files::SetRealTimeOffsetForTesting(10);
    int n = 0;
    for (const auto& step : cases) {
        const fs::path storeRoot = fs::path(root_) / std::to_string(++n);
        const fs::path folder = storeRoot / "ROOT", bundle = storeRoot / "bundle.pem";
        fs::create_directories(folder);
        write(folder / "1.cer", std::string(a.begin(), a.end()));
        write(folder / "2.cer", std::string(b.begin(), b.end()));
        write(bundle, Pem(a));
        for (const fs::path& path : {folder / "1.cer", folder / "2.cer", folder, bundle}) DateBack(path);
        setenv("ZORBELU_STORE_DIR", storeRoot.c_str(), 1);
        SetSystemBundleForTesting(bundle);

        const auto first = SystemStore::Open("ROOT")->Contents();
        EXPECT_EQ(SystemStore::Open("ROOT")->Contents(), first) << step.what;
        step.change(folder, bundle);
        const auto changed = SystemStore::Open("ROOT")->Contents();
        EXPECT_NE(changed, first) << step.what;
        EXPECT_EQ(Ders(*changed), step.after) << step.what;
    }
}

}  // namespace
}  // namespace zorbelu::stores
