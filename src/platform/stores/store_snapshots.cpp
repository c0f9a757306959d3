#include "platform/stores/store_snapshots.h"

#include <string>
#include <vector>

#include "platform/stores/bounded_cache.h"
#include "platform/stores/store_files.h"

namespace zorbelu::stores::snapshots {
namespace {

namespace fs = std::filesystem;
using files::Stamp;

// How the read-only files were when they were last read, and what they showed.
struct ReadOnlyObservation {
    std::vector<std::optional<Stamp>> stamps;  // parallel to the files
    bool settled = false;                      // every stamp settled when looked at
    std::shared_ptr<const StoreContents> contents;
};

// A folder's view and the read-only contents shown after it, and what they made.
struct StoreObservation {
    std::shared_ptr<const index::FolderView> view;
    std::shared_ptr<const StoreContents> readOnly;
    std::shared_ptr<const StoreContents> contents;
};

template <typename T>
BoundedCache<std::string, std::shared_ptr<const T>>& Observations() {
    // Weighed by store: the contents themselves are bounded by the files' limits.
    static BoundedCache<std::string, std::shared_ptr<const T>> cache(kMaxRememberedStores, kMaxRememberedStores);
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

std::string KeyOf(const std::vector<fs::path>& files) {
    std::string key;
    for (const fs::path& file : files) key += file.string() + '\n';
    return key;
}

// The same object as `last` when the entries are equal.
std::shared_ptr<const StoreContents> Reuse(const std::shared_ptr<const StoreContents>& last,
                                           std::vector<StoreEntry> entries) {
    if (last && SameEntries(last->entries, entries)) return last;
    return std::make_shared<const StoreContents>(StoreContents{std::move(entries)});
}

}  // namespace

std::shared_ptr<const StoreContents> ReadOnlyContents(const std::vector<fs::path>& readOnlyFiles) {
    static const auto empty = std::make_shared<const StoreContents>();
    if (readOnlyFiles.empty()) return empty;
    const std::string key = KeyOf(readOnlyFiles);
    const timespec lookedAt = files::RealTimeNow();
    const auto last = Observations<ReadOnlyObservation>().Find(key);
    auto now = std::make_shared<ReadOnlyObservation>();
    now->settled = true;
    for (const fs::path& file : readOnlyFiles) {
        now->stamps.push_back(files::StampOf(file));
        if (!files::Settled(now->stamps.back(), lookedAt)) now->settled = false;
    }
    if (last && (*last)->settled && (*last)->stamps == now->stamps) return (*last)->contents;

    std::vector<StoreEntry> entries;
    for (const fs::path& file : readOnlyFiles)
        for (DerCertificate& der : files::FileCertificates(file, files::kMaxBundleFile))
            entries.push_back({std::move(der), file, true});
    now->contents = Reuse(last ? (*last)->contents : nullptr, std::move(entries));
    Observations<ReadOnlyObservation>().Put(key, now, 1);
    return now->contents;
}

std::shared_ptr<const StoreContents> CurrentContents(const std::shared_ptr<const index::FolderView>& view,
                                                     const std::vector<fs::path>& readOnlyFiles) {
    const std::shared_ptr<const StoreContents> readOnly = ReadOnlyContents(readOnlyFiles);
    const std::string key = view->folder.string() + '\n' + KeyOf(readOnlyFiles);
    const auto last = Observations<StoreObservation>().Find(key);
    // A view whose stamps were not settled yet may hide a change: read again.
    if (last && view->settled && (*last)->view == view && (*last)->readOnly == readOnly) return (*last)->contents;

    std::vector<StoreEntry> entries;
    for (size_t i = 0; i < view->files.size(); ++i) {
        const fs::path file = view->PathOf(i);
        for (DerCertificate& der : files::FileCertificates(file, files::kMaxCertificateFile))
            entries.push_back({std::move(der), file, false});
    }
    entries.insert(entries.end(), readOnly->entries.begin(), readOnly->entries.end());
    auto now = std::make_shared<StoreObservation>();
    now->view = view;
    now->readOnly = readOnly;
    now->contents = Reuse(last ? (*last)->contents : nullptr, std::move(entries));
    Observations<StoreObservation>().Put(key, now, 1);
    return now->contents;
}

}  // namespace zorbelu::stores::snapshots
