#include "platform/stores/system_store.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/stores/store_files.h"
#include "platform/stores/store_snapshots.h"

namespace zorbelu::stores {

namespace {

namespace fs = std::filesystem;
using files::CertificateFiles;
using files::FileCertificates;
using files::kMaxCertificateFile;

// Names tried for one new file before giving up (others may be adding too).
constexpr int kMaxNameAttempts = 16;

struct BioFree {
    void operator()(BIO* b) const noexcept { BIO_free(b); }
};
struct X509Free {
    void operator()(X509* x) const noexcept { X509_free(x); }
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and tells whether the close succeeded.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::optional<fs::path>& BundleOverride() {
    static std::optional<fs::path> bundle;
    return bundle;
}

BeforeRenameHook beforeRenameHook = nullptr;

fs::path SystemBundle() { return BundleOverride().value_or(fs::path(kSystemBundle)); }

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
    return upper;
}

bool SystemRootsShown() {
    const char* value = std::getenv("ZORBELU_SYSTEM_ROOTS");
    return value == nullptr || std::strcmp(value, "0") != 0;
}

StoreChange ChangeFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOTDIR:  // a store folder whose parent is no folder
        case EEXIST:   // a store folder name taken by a file
            return StoreChange::AccessDenied;
        case ENOENT:
            return StoreChange::NotFound;
        default:
            return StoreChange::Failed;
    }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Flushes the folder's entries, so that a rename survives a crash.
void SyncFolder(const fs::path& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) (void)::fsync(fd.get());
}

// Writes `bytes` to a new temporary file in `folder` and flushes it to disk.
[[nodiscard]] StoreChange WriteTemporary(const fs::path& folder, const uint8_t* data, size_t size,
                                         fs::path& temporary) {
    std::string pattern = (folder / ".zorbelu-XXXXXX.tmp").string();
    FileDescriptor fd(::mkostemps(pattern.data(), 4, O_CLOEXEC));
    if (fd.get() < 0) return ChangeFromErrno(errno);
    temporary = pattern;
    const bool written = WriteAll(fd.get(), data, size) && ::fchmod(fd.get(), 0644) == 0 && ::fsync(fd.get()) == 0;
    const int error = errno;
    if (!fd.Close() || !written) {
        ::unlink(temporary.c_str());
        return written ? StoreChange::Failed : ChangeFromErrno(error);
    }
    return StoreChange::Done;
}

// Renames without replacing: 0, or the errno (EEXIST when `to` is taken).
int RenameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a hard link is just as exclusive.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

std::string PemText(const std::vector<DerCertificate>& certificates) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    for (const DerCertificate& der : certificates) {
        const unsigned char* p = der.data();
        std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
        if (!certificate || PEM_write_bio_X509(bio.get(), certificate.get()) != 1) return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

bool IsWholeDerCertificate(const uint8_t* der, size_t size) {
    const unsigned char* p = der;
    std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &p, static_cast<long>(size)));
    return certificate && p == der + size;
}

}  // namespace

fs::path StoreRootFolder() {
    if (const char* dir = std::getenv("ZORBELU_STORE_DIR"); dir != nullptr && *dir != '\0') return dir;
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0')
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        data = fs::path(home) / ".local" / "share";
    else
        data = fs::path("/tmp");  // no home at all: a place that exists, never written unasked
    return data / "zorbelutilnd" / "stores";
}

std::string NameAfter(const std::string& last) {
    static constexpr size_t kDigits = 6;
    const auto numbered = [](const std::string& base, unsigned number) {
        std::string digits = std::to_string(number);
        return base + "~" + std::string(kDigits - digits.size(), '0') + digits + ".cer";
    };
    if (last.empty()) return numbered("cert", 1);
    const size_t dot = last.rfind('.');
    const std::string stem = dot == std::string::npos ? last : last.substr(0, dot);
    // "<base>~NNNNNN": count on, which keeps the names short.
    if (stem.size() > kDigits && stem[stem.size() - kDigits - 1] == '~' &&
        std::all_of(stem.end() - kDigits, stem.end(), [](unsigned char c) { return c >= '0' && c <= '9'; })) {
        const unsigned number = static_cast<unsigned>(std::stoul(stem.substr(stem.size() - kDigits)));
        if (number < 999999) return numbered(stem.substr(0, stem.size() - kDigits - 1), number + 1);
    }
    // Otherwise the stem and "~": '~' sorts after the '.' that follows the
    // stem in `last`, and `last` is a prefix when it has no extension.
    return numbered(stem, 1);
}

std::optional<SystemStore> SystemStore::Open(std::string_view name) {
    const std::string upper = Upper(name);
    if (upper != "ROOT" && upper != "CA") return std::nullopt;
    return SystemStore(upper, StoreRootFolder() / upper, upper == "ROOT" && SystemRootsShown());
}

std::shared_ptr<const StoreContents> SystemStore::Contents() const {
    return snapshots::CurrentContents(folder_, withBundle_ ? std::optional<fs::path>(SystemBundle()) : std::nullopt);
}

std::vector<StoreEntry> SystemStore::Entries() const { return Contents()->entries; }

std::vector<DerCertificate> SystemStore::Certificates() const {
    std::vector<DerCertificate> certificates;
    for (const StoreEntry& entry : Contents()->entries) certificates.push_back(entry.der);
    return certificates;
}

bool SystemStore::Contains(const uint8_t* der, size_t size) const {
    if (der == nullptr || size == 0) return false;
    const std::shared_ptr<const StoreContents> contents = Contents();
    for (const StoreEntry& entry : contents->entries)
        if (entry.der.size() == size && std::memcmp(entry.der.data(), der, size) == 0) return true;
    return false;
}

StoreChange SystemStore::Add(const uint8_t* der, size_t size, fs::path* written) const {
    if (der == nullptr || size == 0 || size > kMaxCertificateFile || !IsWholeDerCertificate(der, size))
        return StoreChange::Failed;
    if (Contains(der, size)) return StoreChange::Exists;
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) return ChangeFromErrno(error.value());
    if (!fs::is_directory(folder_, error)) return StoreChange::AccessDenied;

    fs::path temporary;
    if (const StoreChange change = WriteTemporary(folder_, der, size, temporary); change != StoreChange::Done)
        return change;
    if (beforeRenameHook != nullptr) beforeRenameHook(temporary);
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::vector<fs::path> files = CertificateFiles(folder_);
        const fs::path target = folder_ / NameAfter(files.empty() ? std::string() : files.back().filename().string());
        const int renameError = RenameNoReplace(temporary, target);
        if (renameError == 0) {
            SyncFolder(folder_);
            if (written != nullptr) *written = target;
            return StoreChange::Done;
        }
        if (renameError != EEXIST) {
            ::unlink(temporary.c_str());
            return ChangeFromErrno(renameError);
        }
    }
    ::unlink(temporary.c_str());
    return StoreChange::Failed;  // every name tried was taken meanwhile
}

StoreChange SystemStore::Remove(const StoreEntry& entry) const {
    if (entry.readOnly || entry.file.parent_path() != folder_) return StoreChange::AccessDenied;
    std::error_code error;
    if (!fs::exists(entry.file, error)) return StoreChange::NotFound;
    std::vector<DerCertificate> remaining = FileCertificates(entry.file, kMaxCertificateFile);
    const auto match = std::find(remaining.begin(), remaining.end(), entry.der);
    if (match == remaining.end()) return StoreChange::NotFound;
    remaining.erase(match);

    if (remaining.empty()) {
        if (::unlink(entry.file.c_str()) != 0) return ChangeFromErrno(errno);
        SyncFolder(folder_);
        return StoreChange::Done;
    }
    // A PEM file with more certificates: rewrite it without this one.
    const std::string pem = PemText(remaining);
    if (pem.empty()) return StoreChange::Failed;
    fs::path temporary;
    if (const StoreChange change =
            WriteTemporary(folder_, reinterpret_cast<const uint8_t*>(pem.data()), pem.size(), temporary);
        change != StoreChange::Done)
        return change;
    if (beforeRenameHook != nullptr) beforeRenameHook(temporary);
    if (::rename(temporary.c_str(), entry.file.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return ChangeFromErrno(renameError);
    }
    SyncFolder(folder_);
    return StoreChange::Done;
}

void SetSystemBundleForTesting(std::optional<fs::path> bundle) { BundleOverride() = std::move(bundle); }

void SetBeforeRenameHookForTesting(BeforeRenameHook hook) { beforeRenameHook = hook; }

}  // namespace zorbelu::stores
