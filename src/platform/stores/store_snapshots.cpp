#include "platform/stores/store_snapshots.h"

#include <string>
#include <vector>

#include "platform/stores/bounded_cache.h"
#include "platform/stores/store_files.h"

namespace zorbelu::stores::snapshots {
namespace {

namespace fs = std::filesystem;
using files::Stamp;

struct SeenFile {
    fs::path file;
    std::optional<Stamp> stamp;
};

bool operator==(const SeenFile& a, const SeenFile& b) { return a.file == b.file && a.stamp == b.stamp; }

// How the store's folder, files and bundle were when they were last read,
// and what they showed then.
struct Observation {
    std::optional<Stamp> folder;
    std::vector<SeenFile> files;
    std::vector<std::optional<Stamp>> readOnly;  // parallel to the read-only files
    bool settled = false;  // every stamp settled when looked at
    std::shared_ptr<const StoreContents> contents;
};
using ObservationPtr = std::shared_ptr<const Observation>;

BoundedCache<std::string, ObservationPtr>& Observations() {
    // Weighed by store: the contents themselves are bounded by the files' limits.
    static BoundedCache<std::string, ObservationPtr> cache(kMaxRememberedStores, kMaxRememberedStores);
    return cache;
}

bool SameEntry(const StoreEntry& a, const StoreEntry& b) {
    return a.der == b.der && a.file == b.file && a.readOnly == b.readOnly;
}

bool SameEntries(const std::vector<StoreEntry>& a, const std::vector<StoreEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameEntry(a[i], b[i])) return false;
    return true;
}

// The folder's listing: the last one again while the folder's own stamp is
// unchanged and was settled (adding, removing or renaming a file changes it).
std::vector<SeenFile> LookAtFiles(const fs::path& folder, const std::optional<Stamp>& folderStamp,
                                  const Observation* last) {
    std::vector<SeenFile> seen;
    if (last != nullptr && last->settled && last->folder == folderStamp) {
        seen.reserve(last->files.size());
        for (const SeenFile& file : last->files) seen.push_back({file.file, files::StampOf(file.file)});
        return seen;
    }
    for (fs::path& file : files::CertificateFiles(folder)) {
        std::optional<Stamp> stamp = files::StampOf(file);
        seen.push_back({std::move(file), stamp});
    }
    return seen;
}

std::vector<StoreEntry> ReadEntries(const std::vector<SeenFile>& seen, const std::vector<fs::path>& readOnlyFiles) {
    std::vector<StoreEntry> entries;
    for (const SeenFile& file : seen) {
        for (DerCertificate& der : files::FileCertificates(file.file, files::kMaxCertificateFile))
            entries.push_back({std::move(der), file.file, false});
    }
    for (const fs::path& file : readOnlyFiles) {
        for (DerCertificate& der : files::FileCertificates(file, files::kMaxBundleFile))
            entries.push_back({std::move(der), file, true});
    }
    return entries;
}

bool AllSettled(const Observation& observation, const timespec& lookedAt) {
    if (!files::Settled(observation.folder, lookedAt)) return false;
    for (const std::optional<Stamp>& stamp : observation.readOnly)
        if (!files::Settled(stamp, lookedAt)) return false;
    for (const SeenFile& file : observation.files)
        if (!files::Settled(file.stamp, lookedAt)) return false;
    return true;
}

}  // namespace

std::shared_ptr<const StoreContents> CurrentContents(const fs::path& folder, const std::vector<fs::path>& readOnlyFiles) {
    std::string key = folder.string();
    for (const fs::path& file : readOnlyFiles) key += '\n' + file.string();
    const timespec lookedAt = files::RealTimeNow();
    const std::optional<ObservationPtr> last = Observations().Find(key);
    const Observation* previous = last ? last->get() : nullptr;

    auto now = std::make_shared<Observation>();
    now->folder = files::StampOf(folder);
    now->files = LookAtFiles(folder, now->folder, previous);
    for (const fs::path& file : readOnlyFiles) now->readOnly.push_back(files::StampOf(file));
    if (previous != nullptr && previous->settled && previous->folder == now->folder &&
        previous->files == now->files && previous->readOnly == now->readOnly)
        return previous->contents;

    std::vector<StoreEntry> entries = ReadEntries(now->files, readOnlyFiles);
    if (previous != nullptr && SameEntries(previous->contents->entries, entries))
        now->contents = previous->contents;
    else
        now->contents = std::make_shared<const StoreContents>(StoreContents{std::move(entries)});
    now->settled = AllSettled(*now, lookedAt);
    Observations().Put(key, now, 1);
    return now->contents;
}

}  // namespace zorbelu::stores::snapshots
