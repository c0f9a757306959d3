// The directory stores: folders, what a look sees again, and writers in several processes at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/stores/folder_index.h"
#include "platform/stores/store_files.h"
#include "platform/stores/store_writing.h"
#include "platform/stores/system_store.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"

namespace zorbelu::stores {
namespace {

namespace fs = std::filesystem;

// A self-signed certificate (DER) named `name`.
DerCertificate MakeCert(const char* name) {
    const std::string der = fixtures::x509::CertDer(fixtures::x509::MakeMonthCertificate(name, "store", nullptr, "store").get());
    return DerCertificate(der.begin(), der.end());
}

std::string Pem(const DerCertificate& der) { return fixtures::x509::CertDerToPem(std::string(der.begin(), der.end())); }

class core_SystemStore : public testing::Test {
protected:
    void SetUp() override {
        setenv("ZORBELU_STORE_DIR", root_.c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
    }
    void TearDown() override {
        unsetenv("ZORBELU_STORE_DIR");
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        SetSystemBundleForTesting(std::nullopt);
        SetBeforeRenameHookForTesting(nullptr);
        files::SetRealTimeOffsetForTesting(0);
    }
    void Write(const std::string& relative, const std::string& bytes) { test::WriteFileBytes(root_ / relative, bytes); }
    test::TempDir dir_;
    const fs::path root_ = dir_.path();
};

// Order and encodings: tests/gathering/cert_store_test.cpp; here the folders and files that are no certificate.
TEST_F(core_SystemStore, NamesFolderAndFilesThatAreNoCertificate) {
    const DerCertificate a = MakeCert("a");
    Write("ROOT/a.der", std::string(a.begin(), a.end()));
    Write("ROOT/notes.txt", "not a certificate");
    Write("ROOT/broken.crt", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
    EXPECT_EQ(SystemStore::Open("root")->Certificates(), std::vector<DerCertificate>{a});
    EXPECT_FALSE(SystemStore::Open("MY").has_value());
    EXPECT_EQ(SystemStore::Open("ca")->Folder(), root_ / "CA");
    unsetenv("ZORBELU_STORE_DIR");
    setenv("XDG_DATA_HOME", "/x/data", 1);
    EXPECT_EQ(StoreRootFolder(), fs::path("/x/data/zorbelutilnd/stores"));
    unsetenv("XDG_DATA_HOME");
}

// A change that keeps size or name, or hits the bundle, shows at the next look.
TEST_F(core_SystemStore, EveryKindOfChangeShowsAtTheNextLook) {
    const DerCertificate a = MakeCert("a"), b = MakeCert("b");
    DerCertificate c = MakeCert("c");
    while (c.size() != a.size()) c = MakeCert("c");  // a rewrite that keeps the size
    const auto write = test::WriteFileBytes;
    const std::string derC(c.begin(), c.end());
    const struct {
        const char* what;
        std::function<void(const fs::path& folder, const fs::path& bundle)> change;
        std::vector<DerCertificate> after;
    } cases[] = {
        {"a file rewritten in place, same size", [&](auto& folder, auto&) { write(folder / "1.cer", derC); },
         {c, b, a}},
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
        const fs::path storeRoot = root_ / std::to_string(++n);
        const fs::path folder = storeRoot / "ROOT", bundle = storeRoot / "bundle.pem";
        fs::create_directories(folder);
        write(folder / "1.cer", std::string(a.begin(), a.end()));
        write(folder / "2.cer", std::string(b.begin(), b.end()));
        write(bundle, Pem(a));
        const timespec hourBack[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};  // changes show
        for (const fs::path& path : {folder / "1.cer", folder / "2.cer", folder, bundle})
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), hourBack, 0), 0) << path;
        setenv("ZORBELU_STORE_DIR", storeRoot.c_str(), 1);
        SetSystemBundleForTesting(bundle);

        const auto first = SystemStore::Open("ROOT")->Contents();
        EXPECT_EQ(SystemStore::Open("ROOT")->Contents(), first) << step.what;
        step.change(folder, bundle);
        files::SetRealTimeOffsetForTesting(10 + index::kRecheckIntervalSeconds);  // a rewrite in place: the next full look
        const auto changed = SystemStore::Open("ROOT")->Contents();
        files::SetRealTimeOffsetForTesting(10);
        EXPECT_NE(changed, first) << step.what;
        std::vector<DerCertificate> ders;
        for (const StoreEntry& entry : changed->entries) ders.push_back(entry.der);
        EXPECT_EQ(ders, step.after) << step.what;
    }
}

// Runs `work` in `count` child processes released at the same moment; answers their exit codes.
std::vector<int> InChildProcesses(int count, const std::function<int()>& work) {
    int gate[2];
    if (pipe(gate) != 0) return {};
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            close(gate[1]);
            char byte;
            (void)!read(gate[0], &byte, 1);  // returns once the parent closes the gate
            _exit(work());
        }
        children.push_back(child);
    }
    close(gate[0]);
    close(gate[1]);
    std::vector<int> codes;
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

void PauseBeforeRename(const fs::path&) { usleep(50 * 1000); }

[[noreturn]] void DieBeforeRename(const fs::path&) {
    std::raise(SIGKILL);
    _exit(99);
}

std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writers pause before their rename: without turns each would find the certificate missing and add it.
TEST_F(core_SystemStore, ProcessesAddingTheSameCertificateAtOnceLeaveOneFile) {
    const DerCertificate cert = MakeCert("shared");
    SetBeforeRenameHookForTesting(PauseBeforeRename);
    const std::vector<int> codes = InChildProcesses(8, [&] {
        return static_cast<int>(SystemStore::Open("CA")->Add(cert.data(), cert.size()));
    });
    SetBeforeRenameHookForTesting(nullptr);
    const int done = static_cast<int>(StoreChange::Done), exists = static_cast<int>(StoreChange::Exists);
    EXPECT_EQ(codes, (std::vector<int>{done, exists, exists, exists, exists, exists, exists, exists}));
    EXPECT_EQ(files::CertificateFiles(root_ / "CA").size(), 1u);
    EXPECT_TRUE(SystemStore::Open("CA")->Contains(cert.data(), cert.size()));
}

// A dead writer's temporary file is removed by the next writer; a live writer's and foreign files stay.
TEST_F(core_SystemStore, TheNextWriterRemovesOnlyTemporaryFilesOfDeadWriters) {
    const DerCertificate lost = MakeCert("lost"), added = MakeCert("added");
    const fs::path folder = root_ / "CA";
    Write("CA/notes.tmp", "not ours");
    SetBeforeRenameHookForTesting(DieBeforeRename);
    EXPECT_EQ(InChildProcesses(1, [&] { return static_cast<int>(SystemStore::Open("CA")->Add(lost.data(), lost.size())); }),
              std::vector<int>{128 + SIGKILL});
    SetBeforeRenameHookForTesting(nullptr);
    std::vector<std::string> names = FolderNames(folder);
    ASSERT_EQ(names.size(), 3u);  // the dead writer's temporary file, the lock file, notes.tmp
    const std::string dead = names[0];
    ASSERT_EQ(dead.rfind(writing::kTemporaryPrefix, 0), 0u);

    const fs::path live = folder / (std::string(writing::kTemporaryPrefix) + "live01" + writing::kTemporarySuffix);
    Write("CA/" + live.filename().string(), "being written");
    writing::UniqueFd liveWriter(open(live.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(liveWriter.get(), LOCK_EX), 0);

    ASSERT_EQ(SystemStore::Open("CA")->Add(added.data(), added.size()), StoreChange::Done);
    names = FolderNames(folder);
    EXPECT_EQ(std::count(names.begin(), names.end(), dead), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), live.filename().string()), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "notes.tmp"), 1);

    // Its writer gone, the next change (a delete too) removes it.
    liveWriter = writing::UniqueFd();
    ASSERT_EQ(SystemStore::Open("CA")->Remove(SystemStore::Open("CA")->Entries().front()), StoreChange::Done);
    EXPECT_FALSE(fs::exists(live));
}

}  // namespace
}  // namespace zorbelu::stores
