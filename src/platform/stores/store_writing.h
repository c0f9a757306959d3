// How a store folder is changed safely while other processes change it too.
//
// - Writers take turns: each holds an exclusive flock on the folder's lock
//   file (".zorbelu.lock", never read as a certificate) from its check for
//   an existing copy to its last rename, so two writers never both find a
//   certificate missing and both add it. Readers take no lock.
// - New contents are written to a temporary file (".zorbelu-XXXXXX.tmp"),
//   flushed, and renamed into place; a process killed meanwhile leaves at
//   most that temporary file.
// - The writer holds a flock on its own temporary file until it is renamed
//   or removed. The kernel drops the lock when the writer dies, so a
//   temporary file that nobody holds locked was left by a dead writer; the
//   next writer removes it. A live writer's temporary file is never removed.
#ifndef ZORBELU_PLATFORM_STORES_STORE_WRITING_H
#define ZORBELU_PLATFORM_STORES_STORE_WRITING_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/stores/system_store.h"
#include "platform/unique_fd.h"

namespace zorbelu::stores::writing {

// The lock file of a store folder.
constexpr const char kLockFileName[] = ".zorbelu.lock";
// Temporary files: this prefix, six random characters, this suffix.
constexpr const char kTemporaryPrefix[] = ".zorbelu-";
constexpr const char kTemporarySuffix[] = ".tmp";

// How long a writer waits for the folder's lock before it gives up (Failed).
// Nobody holds it longer than one write and its flushes.
constexpr std::chrono::milliseconds kLockWait{20000};

// What a failed system call means for a store change.
[[nodiscard]] StoreChange ChangeFromErrno(int error);

using platform::UniqueFd;
using platform::WriteAll;

// The folder's exclusive write lock, held while this object lives.
class FolderLock {
public:
    // Waits at most `wait`. Done with `lock` holding it, or why not:
    // NotFound when the folder does not exist, AccessDenied when we may not
    // create the lock file, Failed when the wait ran out.
    [[nodiscard]] static StoreChange Acquire(const std::filesystem::path& folder, FolderLock& lock,
                                             std::chrono::milliseconds wait = kLockWait);

private:
    UniqueFd fd_;
};

// A temporary file in a store folder, locked by us while it lives. The
// destructor removes it unless it was moved into place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates it in `folder` with `data` (mode 0644), flushed to disk.
    [[nodiscard]] StoreChange Write(const std::filesystem::path& folder, const uint8_t* data, size_t size);
    const std::filesystem::path& Path() const { return path_; }

    // Renames it to `target` unless `target` exists: Done, Exists, or why not.
    [[nodiscard]] StoreChange MoveToNew(const std::filesystem::path& target);
    // Renames it over `target`.
    [[nodiscard]] StoreChange MoveOver(const std::filesystem::path& target);

private:
    UniqueFd fd_;
    std::filesystem::path path_;
    bool moved_ = false;
};

// Removes the temporary files of `folder` that no live writer holds locked.
// Call it holding the folder's lock. Answers how many it removed.
size_t RemoveAbandonedTemporaries(const std::filesystem::path& folder);

// Flushes the folder's entries, so that renames and removals survive a crash.
void SyncFolder(const std::filesystem::path& folder);

}  // namespace zorbelu::stores::writing

#endif
