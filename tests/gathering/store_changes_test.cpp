// A store folder changed behind the library's back, and its index file
// forged: what a look-up by subject (the chain walk's) and Contains find
// must follow the files, whatever the remembered views and the index say.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "certs/store_index.h"
#include "platform/stores/folder_index.h"
#include "platform/stores/store_files.h"
#include "platform/stores/system_store.h"
#include "support/fixture_x509.h"
#include "x509/names.h"
#include "support/served_pki.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
namespace x509 = fixtures::x509;
namespace views = stores::index;

constexpr time_t kSettled = 10;  // seconds ahead: what the test wrote counts as settled

struct Cert {
    std::string der;
    std::string subject;  // its simple text, as look-ups ask for it
};

Cert Certificate(const std::string& name) {
    const auto certificate = x509::MakeMonthCertificate(name, "store-change", nullptr, "store-change");
    return {x509::CertDer(certificate.get()), *zorbelu::x509::CertNameToStrSimple(X509_get_subject_name(certificate.get()))};
}

void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

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

// An index file of `body`, its digest right or wrong.
void WriteIndex(const fs::path& folder, const std::string& body, bool rightDigest) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(body.data()), body.size(), digest);
    if (!rightDigest) digest[0] ^= 1;
    std::string header = "zorbelu-store-index 1 ";
    char hex[3];
    for (const unsigned char byte : digest) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        header += hex;
    }
    Write(folder / views::kIndexFileName, header + '\n' + body);
}

struct Row {
    const char* why;
    std::function<void(const fs::path& folder, const Cert& a, const Cert& b)> change;
    time_t laterBy;    // seconds after the first look the second one happens
    bool newProcess;   // the views remembered in memory are forgotten
    bool wantA, wantB;
};

TEST(StoreChanges, LookupsFollowTheFilesNotTheirIndex) {
    const auto rewrite = [](const fs::path& f, const Cert&, const Cert& b) { Write(f / "a.der", b.der + "\n"); };
    // An index naming B for a.der: trusted only when whole and stamped exactly.
    const auto claimB = [](bool rightDigest, off_t sizeOffset) {
        return [=](const fs::path& f, const Cert&, const Cert& b) {
            WriteIndex(f, IndexLine(f / "a.der", {b.subject}, sizeOffset), rightDigest);
        };
    };
    const Row rows[] = {
        {"a file copied in by hand is found at once (the folder's stamp changed)",
         [](const fs::path& f, const Cert&, const Cert& b) { Write(f / "b.der", b.der); }, 0, false, true, true},
        {"a file removed by hand is no longer shown",
         [](const fs::path& f, const Cert&, const Cert&) { fs::remove(f / "a.der"); }, 0, false, false, false},
        {"a file rewritten in place is seen at the next full look", rewrite, views::kRecheckIntervalSeconds + 1,
         false, false, true},
        {"a file rewritten in place is seen by a new process, whatever the index says", rewrite, 0, true, false,
         true},
        {"an index claiming subjects a file lacks, and a file outside the folder, costs only time",
         [](const fs::path& f, const Cert& a, const Cert& b) {
             Write(f.parent_path() / "outside.der", b.der);  // named in the index, not listed in the folder
             WriteIndex(f, IndexLine(f / "a.der", {a.subject, b.subject}) +
                               IndexLine(f.parent_path() / "outside.der", {b.subject}), true);
         },
         0, true, true, false},
        {"an index whose digest is wrong is ignored (it would hide A)", claimB(false, 0), 0, true, true, false},
        {"a new process takes a file's subjects from an index entry with its exact stamp, without reading it",
         claimB(true, 0), 0, true, false, false},
        {"an index entry whose stamp is not the file's is not trusted (it would hide A)", claimB(true, 1), 0, true,
         true, false},
    };
    const Cert a = Certificate("Store Change A");
    const Cert b = Certificate("Store Change B");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        test::TempDir dir;
        setenv("ZORBELU_STORE_DIR", dir.path().c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        const fs::path folder = dir.path() / "ROOT";
        fs::create_directories(folder);
        Write(folder / "a.der", a.der);
        stores::files::SetRealTimeOffsetForTesting(kSettled);
        // The first look remembers the folder and writes its index file.
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
        stores::files::SetRealTimeOffsetForTesting(0);
    }
}

}  // namespace
