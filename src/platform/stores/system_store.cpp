#include "platform/stores/system_store.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/stores/folder_index.h"
#include "platform/stores/store_files.h"
#include "platform/stores/store_snapshots.h"
#include "platform/stores/store_writing.h"
#include "x509/decoding.h"

namespace zorbelu::stores {

namespace {

namespace fs = std::filesystem;
using files::CertificateFiles;
using files::FileCertificates;
using files::kMaxCertificateFile;
using writing::ChangeFromErrno;
using writing::FolderLock;
using writing::TemporaryFile;

// Names tried for one new file before giving up (files put there by hand meanwhile).
constexpr int kMaxNameAttempts = 16;

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

std::string PemText(const std::vector<DerCertificate>& certificates) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    for (const DerCertificate& der : certificates) {
        const uint8_t* p = der.data();
        const X509Ptr certificate = x509::DecodeDerCertificateAt(&p, der.size());
        if (!certificate || PEM_write_bio_X509(bio.get(), certificate.get()) != 1) return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

bool IsWholeDerCertificate(const uint8_t* der, size_t size) {
    return x509::DecodeWholeDerCertificate(der, size) != nullptr;
}

// Takes every copy of `der` out of one file of `folder`, counting them in
// `removed`: NotFound when the file holds none.
[[nodiscard]] StoreChange RemoveFromFile(const fs::path& folder, const fs::path& file, const DerCertificate& der,
                                         size_t& removed) {
    std::vector<DerCertificate> remaining = FileCertificates(file, kMaxCertificateFile);
    const size_t before = remaining.size();
    remaining.erase(std::remove(remaining.begin(), remaining.end(), der), remaining.end());
    if (remaining.size() == before) return StoreChange::NotFound;
    if (remaining.empty()) {
        if (::unlink(file.c_str()) != 0) return ChangeFromErrno(errno);
    } else {
        // A PEM file with other certificates: rewrite it without these.
        const std::string pem = PemText(remaining);
        if (pem.empty()) return StoreChange::Failed;
        TemporaryFile temporary;
        const StoreChange written =
            temporary.Write(folder, reinterpret_cast<const uint8_t*>(pem.data()), pem.size());
        if (written != StoreChange::Done) return written;
        if (beforeRenameHook != nullptr) beforeRenameHook(temporary.Path());
        if (const StoreChange moved = temporary.MoveOver(file); moved != StoreChange::Done) return moved;
    }
    removed += before - remaining.size();
    return StoreChange::Done;
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

std::vector<fs::path> OverlayFiles(std::string_view name) {
    const std::string upper = Upper(name);
    const char* variable = upper == "ROOT" ? kOverlayRootVariable : upper == "CA" ? kOverlayCaVariable : nullptr;
    const char* value = variable != nullptr ? std::getenv(variable) : nullptr;
    std::vector<fs::path> files;
    if (value == nullptr) return files;
    const std::string_view list(value);
    for (size_t start = 0; start <= list.size() && files.size() < kMaxOverlayFiles;) {
        const size_t end = std::min(list.find(':', start), list.size());
        if (end > start) files.emplace_back(std::string(list.substr(start, end - start)));
        start = end + 1;
    }
    return files;
}

std::vector<fs::path> SystemStore::ReadOnlyFiles() const {
    std::vector<fs::path> readOnly;
    if (withBundle_) readOnly.push_back(SystemBundle());
    for (fs::path& file : OverlayFiles(name_)) readOnly.push_back(std::move(file));
    return readOnly;
}

std::shared_ptr<const StoreContents> SystemStore::Contents() const {
    return snapshots::CurrentContents(View(), ReadOnlyFiles());
}

std::shared_ptr<const index::FolderView> SystemStore::View() const { return index::CurrentView(folder_); }

std::shared_ptr<const StoreContents> SystemStore::ReadOnlyContents() const {
    return snapshots::ReadOnlyContents(ReadOnlyFiles());
}

std::vector<StoreEntry> SystemStore::Entries() const { return Contents()->entries; }

std::vector<DerCertificate> SystemStore::Certificates() const {
    std::vector<DerCertificate> certificates;
    for (const StoreEntry& entry : Contents()->entries) certificates.push_back(entry.der);
    return certificates;
}

bool SystemStore::Contains(const uint8_t* der, size_t size) const {
    if (der == nullptr || size == 0) return false;
    const auto same = [&](const DerCertificate& candidate) {
        return candidate.size() == size && std::memcmp(candidate.data(), der, size) == 0;
    };
    const std::vector<index::SubjectKey> keys = index::SubjectKeysIn(DerCertificate(der, der + size));
    if (keys.size() != 1) {  // no subject to look for: every certificate
        const std::shared_ptr<const StoreContents> contents = Contents();
        return std::any_of(contents->entries.begin(), contents->entries.end(),
                           [&](const StoreEntry& entry) { return same(entry.der); });
    }
    const std::shared_ptr<const index::FolderView> view = View();
    for (const size_t position : view->FilesWithKey(keys.front())) {
        const std::vector<DerCertificate> held = FileCertificates(view->PathOf(position), kMaxCertificateFile);
        if (std::any_of(held.begin(), held.end(), same)) return true;
    }
    const std::shared_ptr<const StoreContents> readOnly = ReadOnlyContents();
    return std::any_of(readOnly->entries.begin(), readOnly->entries.end(),
                       [&](const StoreEntry& entry) { return same(entry.der); });
}

StoreChange SystemStore::Add(const uint8_t* der, size_t size, fs::path* written) const {
    if (der == nullptr || size == 0 || size > kMaxCertificateFile || !IsWholeDerCertificate(der, size))
        return StoreChange::Failed;
    if (Contains(der, size)) return StoreChange::Exists;  // the common case, without waiting for the lock
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) return ChangeFromErrno(error.value());
    if (!fs::is_directory(folder_, error)) return StoreChange::AccessDenied;

    FolderLock lock;
    if (const StoreChange locked = FolderLock::Acquire(folder_, lock); locked != StoreChange::Done)
        return locked == StoreChange::NotFound ? StoreChange::Failed : locked;
    writing::RemoveAbandonedTemporaries(folder_);
    // Another writer may have added it while we waited.
    if (Contains(der, size)) return StoreChange::Exists;

    TemporaryFile temporary;
    if (const StoreChange change = temporary.Write(folder_, der, size); change != StoreChange::Done) return change;
    if (beforeRenameHook != nullptr) beforeRenameHook(temporary.Path());
    // Writers of this library take turns, so the first name is free; the
    // next names are for a file put there by hand meanwhile.
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::vector<fs::path> files = CertificateFiles(folder_);
        const fs::path target = folder_ / NameAfter(files.empty() ? std::string() : files.back().filename().string());
        const StoreChange moved = temporary.MoveToNew(target);
        if (moved == StoreChange::Exists) continue;
        if (moved != StoreChange::Done) return moved;
        writing::SyncFolder(folder_);
        index::NoteChange(folder_);
        if (written != nullptr) *written = target;
        return StoreChange::Done;
    }
    return StoreChange::Failed;  // every name tried was taken meanwhile
}

StoreChange SystemStore::Remove(const StoreEntry& entry, size_t* removedCount) const {
    if (removedCount != nullptr) *removedCount = 0;
    if (entry.readOnly || entry.file.parent_path() != folder_) return StoreChange::AccessDenied;
    FolderLock lock;
    if (const StoreChange locked = FolderLock::Acquire(folder_, lock); locked != StoreChange::Done) return locked;
    writing::RemoveAbandonedTemporaries(folder_);

    // Every copy goes, whatever its file's name or encoding; a file that
    // cannot be changed does not keep the others.
    size_t removed = 0;
    StoreChange failure = StoreChange::Done;
    for (const fs::path& file : CertificateFiles(folder_)) {
        const StoreChange change = RemoveFromFile(folder_, file, entry.der, removed);
        if (change != StoreChange::Done && change != StoreChange::NotFound && failure == StoreChange::Done)
            failure = change;
    }
    if (removed > 0) writing::SyncFolder(folder_);
    index::NoteChange(folder_);
    if (removedCount != nullptr) *removedCount = removed;
    if (failure != StoreChange::Done) return failure;
    return removed > 0 ? StoreChange::Done : StoreChange::NotFound;
}

void SetSystemBundleForTesting(std::optional<fs::path> bundle) { BundleOverride() = std::move(bundle); }

void SetBeforeRenameHookForTesting(BeforeRenameHook hook) { beforeRenameHook = hook; }

}  // namespace zorbelu::stores
