#include "platform/stores/store_writing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace zorbelu::stores::writing {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kFirstLockPause{1};
constexpr std::chrono::milliseconds kLongestLockPause{50};

bool IsTemporaryName(const std::string& name) {
    const std::string prefix = kTemporaryPrefix, suffix = kTemporarySuffix;
    return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Removes the temporary file when nobody holds it locked. The file is
// opened without following links and must be a regular file: a name of
// ours planted as a link or a folder is left alone.
bool RemoveIfAbandoned(const fs::path& file) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;  // a live writer holds it
    return ::unlink(file.c_str()) == 0;
}

}  // namespace

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

StoreChange FolderLock::Acquire(const fs::path& folder, FolderLock& lock, std::chrono::milliseconds wait) {
    const fs::path file = folder / kLockFileName;
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    // Another user's lock file in a folder we share: reading is enough to lock.
    if (fd.get() < 0 && errno == EACCES) {
        fd = UniqueFd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0) return StoreChange::AccessDenied;
    }
    if (fd.get() < 0) return ChangeFromErrno(errno);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (std::chrono::milliseconds pause = kFirstLockPause;; pause = std::min(pause * 2, kLongestLockPause)) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) return StoreChange::Failed;
        if (std::chrono::steady_clock::now() >= deadline) return StoreChange::Failed;
        std::this_thread::sleep_for(pause);
    }
    lock.fd_ = std::move(fd);
    return StoreChange::Done;
}

TemporaryFile::~TemporaryFile() {
    if (!path_.empty() && !moved_) ::unlink(path_.c_str());
}

StoreChange TemporaryFile::Write(const fs::path& folder, const uint8_t* data, size_t size) {
    std::string pattern = (folder / (std::string(kTemporaryPrefix) + "XXXXXX" + kTemporarySuffix)).string();
    UniqueFd fd(::mkostemps(pattern.data(), static_cast<int>(sizeof kTemporarySuffix - 1), O_CLOEXEC));
    if (fd.get() < 0) return ChangeFromErrno(errno);
    path_ = pattern;
    // Locked before anything else: a writer that dies from here on leaves a
    // file that the next writer finds unlocked.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || !WriteAll(fd.get(), data, size) ||
        ::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0)
        return ChangeFromErrno(errno);
    fd_ = std::move(fd);
    return StoreChange::Done;
}

StoreChange TemporaryFile::MoveToNew(const fs::path& target) {
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) return StoreChange::Exists;
        if (errno != EINVAL && errno != ENOSYS) return ChangeFromErrno(errno);
        // A file system without the flag: a hard link is just as exclusive.
        if (::link(path_.c_str(), target.c_str()) != 0)
            return errno == EEXIST ? StoreChange::Exists : ChangeFromErrno(errno);
        ::unlink(path_.c_str());
    }
    moved_ = true;
    fd_ = UniqueFd();  // flushed before the rename: nothing left to fail
    return StoreChange::Done;
}

StoreChange TemporaryFile::MoveOver(const fs::path& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) return ChangeFromErrno(errno);
    moved_ = true;
    fd_ = UniqueFd();  // flushed before the rename: nothing left to fail
    return StoreChange::Done;
}

size_t RemoveAbandonedTemporaries(const fs::path& folder) {
    std::vector<fs::path> candidates;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (IsTemporaryName(it->path().filename().string())) candidates.push_back(it->path());
    size_t removed = 0;
    for (const fs::path& candidate : candidates)
        if (RemoveIfAbandoned(candidate)) ++removed;
    return removed;
}

void SyncFolder(const fs::path& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) (void)::fsync(fd.get());
}

}  // namespace zorbelu::stores::writing
