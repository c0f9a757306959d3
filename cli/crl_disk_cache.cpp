#include "crl_disk_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "certs/crl_fetch.h"
#include "platform/unique_fd.h"
#include "x509/hex.h"

namespace zorbelu::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuffix = ".crl";

std::optional<fs::path> CacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') return fs::path(xdg) / "zorbelu";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return fs::path(home) / ".cache" / "zorbelu";
    return std::nullopt;
}

// The folder, opened without following a link, when it is ours.
int OpenFolder(const fs::path& folder) {
    std::error_code ignored;
    fs::create_directories(folder.parent_path(), ignored);
    (void)::mkdir(folder.c_str(), 0700);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string FileNameOf(const std::string& url) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(url.data(), url.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
    return x509::HexText(digest, length) + kSuffix;
}

// The CRL reads and its nextUpdate has not passed, by the library's own
// rule; a DER CRL is read once per process, as the library reads it.
bool IsCurrent(const uint8_t* data, size_t length) {
    return certs::ReadCrlState(data, length, nullptr) == certs::CrlState::kCurrent;
}

// A regular file of the folder, read whole when it is at most `limit` bytes.
std::optional<std::string> ReadEntry(int folder, const char* name, size_t limit) {
    const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= limit) {
        std::string read(static_cast<size_t>(info.st_size), '\0');
        size_t got = 0;
        while (got < read.size()) {
            const ssize_t n = ::read(fd, read.data() + got, read.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == read.size()) bytes = std::move(read);
    }
    ::close(fd);
    return bytes;
}

// Adds a copy of the CRL to the store, allocated as the library frees it.
bool AddToStore(ZORBELUCRLCacheStore* store, const std::string& url, const uint8_t* data, size_t length) {
    auto* entry = static_cast<ZORBELUCRLCacheEntry*>(std::calloc(1, sizeof(ZORBELUCRLCacheEntry)));
    if (entry == nullptr) return false;
    entry->url = static_cast<char*>(std::malloc(url.size() + 1));
    entry->data = static_cast<uint8_t*>(std::malloc(length));
    if (entry->url == nullptr || entry->data == nullptr) {
        std::free(entry->url);
        std::free(entry->data);
        std::free(entry);
        return false;
    }
    std::memcpy(entry->url, url.c_str(), url.size() + 1);
    entry->urlLength = static_cast<uint32_t>(url.size());
    std::memcpy(entry->data, data, length);
    entry->dataLength = static_cast<uint32_t>(length);
    ZORBELUCRLCacheEntry** tail = &store->first;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = entry;
    return true;
}

struct CacheFile {
    std::string name;
    timespec modified;
};

// The folder's cache files, newest first.
std::vector<CacheFile> CacheFiles(int folder) {
    std::vector<CacheFile> files;
    const int listing = ::dup(folder);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) ::close(listing);
        return files;
    }
    ::rewinddir(dir);
    while (const dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        struct stat info {};
        if (name.size() != 64 + std::strlen(kSuffix) || name.compare(64, std::string::npos, kSuffix) != 0 ||
            ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        files.push_back({name, info.st_mtim});
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(), [](const CacheFile& a, const CacheFile& b) {
        return a.modified.tv_sec != b.modified.tv_sec ? a.modified.tv_sec > b.modified.tv_sec
                                                      : a.modified.tv_nsec > b.modified.tv_nsec;
    });
    return files;
}

// Writes the file whole under a temporary name, then renames it over `name`.
bool WriteEntry(int folder, const std::string& name, const std::string& bytes) {
    unsigned char random[8];
    if (RAND_bytes(random, sizeof random) != 1) return false;
    char temporary[32];
    std::snprintf(temporary, sizeof temporary, ".tmp-%02x%02x%02x%02x%02x%02x%02x%02x", random[0], random[1],
                  random[2], random[3], random[4], random[5], random[6], random[7]);
    const int fd = ::openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool complete = platform::WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (complete && closed && ::renameat(folder, temporary, folder, name.c_str()) == 0) return true;
    (void)::unlinkat(folder, temporary, 0);
    return false;
}

}  // namespace

CrlDiskCache::CrlDiskCache(const Arguments& args) {
    if (ZORBELUCreateCRLCacheStore(&store_) != ZORBELU_OK) throw std::bad_alloc();
    if (args.has("no-cache")) return;
    const std::optional<fs::path> folder = CacheFolder();
    if (folder) folder_ = OpenFolder(*folder);
    if (folder_ < 0) {
        Note("no CRL cache: " + (folder ? folder->string() + " cannot be used" : std::string("no home folder")));
        return;
    }
    Load();
}

CrlDiskCache::~CrlDiskCache() {
    if (folder_ >= 0) {
        Save();
        ::close(folder_);
    }
    (void)ZORBELUFreeCRLCacheStore(store_);
}

void CrlDiskCache::Load() {
    struct Cached {
        unsigned long position;
        std::string url;
        std::string crl;
    };
    std::vector<Cached> current;
    size_t total = 0;
    for (const CacheFile& file : CacheFiles(folder_)) {
        if (current.size() >= kMaxCachedCrls) break;
        std::optional<std::string> bytes = ReadEntry(folder_, file.name.c_str(), kMaxCachedCrlBytes + 4096);
        if (bytes && (total += bytes->size()) > kMaxCachedCrlsBytes) break;
        const size_t first = bytes ? bytes->find('\n') : std::string::npos;
        const size_t second = first != std::string::npos ? bytes->find('\n', first + 1) : std::string::npos;
        if (second == std::string::npos || first == 0 || first > 6 ||
            bytes->find_first_not_of("0123456789") != first)
            continue;
        Cached cached{std::stoul(bytes->substr(0, first)), bytes->substr(first + 1, second - first - 1),
                      std::move(*bytes)};
        cached.crl.erase(0, second + 1);  // the CRL in the file's own buffer
        const auto* crl = reinterpret_cast<const uint8_t*>(cached.crl.data());
        // The name must be the URL's: a file renamed by hand serves no other URL.
        if (FileNameOf(cached.url) != file.name || cached.crl.empty() || !IsCurrent(crl, cached.crl.size())) continue;
        current.push_back(std::move(cached));
    }
    // In the order the library met them: it consults the store by URL while
    // the entry after the last one it used is there, so a chain's CRLs go
    // in the order of the chain (a missing one is downloaded again).
    std::stable_sort(current.begin(), current.end(),
                     [](const Cached& a, const Cached& b) { return a.position < b.position; });
    for (const Cached& cached : current) {
        if (!AddToStore(store_, cached.url, reinterpret_cast<const uint8_t*>(cached.crl.data()), cached.crl.size()))
            break;
        Note("CRL of " + cached.url + " from the cache");
    }
}

void CrlDiskCache::Save() const {
    unsigned long position = 0;
    bool wrote = false;
    for (const ZORBELUCRLCacheEntry* entry = store_->first; entry != nullptr; entry = entry->next, ++position) {
        // The library stamps every CRL it downloads into the store, new or in
        // place of a stale one; an entry without a stamp is one read from
        // this folder, and its file is already there.
        if (entry->downloadTime == 0 || entry->url == nullptr || entry->data == nullptr ||
            entry->dataLength > kMaxCachedCrlBytes || !IsCurrent(entry->data, entry->dataLength))
            continue;
        const std::string url(entry->url, entry->urlLength);
        if (url.find('\n') != std::string::npos) continue;
        const std::string name = FileNameOf(url);
        const std::optional<std::string> existing = ReadEntry(folder_, name.c_str(), kMaxCachedCrlBytes + 4096);
        const std::string bytes = std::to_string(position) + '\n' + url + '\n' + std::string(reinterpret_cast<const char*>(entry->data), entry->dataLength);
        if (existing != bytes) wrote = WriteEntry(folder_, name, bytes) || wrote;
    }
    if (!wrote) return;
    // Bounded: beyond kMaxCachedCrls files the oldest go.
    const std::vector<CacheFile> files = CacheFiles(folder_);
    for (size_t i = kMaxCachedCrls; i < files.size(); ++i) (void)::unlinkat(folder_, files[i].name.c_str(), 0);
}

}  // namespace zorbelu::cli
