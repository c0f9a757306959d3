// Reading the directory stores: order, formats, the bundle switch.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace zorbelu::stores
