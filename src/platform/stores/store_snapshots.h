// What a directory store shows, remembered between opens: a verification
// opens "CA" and "ROOT" every time, and they rarely change in between.
#ifndef ZORBELU_PLATFORM_STORES_STORE_SNAPSHOTS_H
#define ZORBELU_PLATFORM_STORES_STORE_SNAPSHOTS_H

#include <filesystem>
#include <memory>
#include <vector>

#include "platform/stores/folder_index.h"
#include "platform/stores/system_store.h"

namespace zorbelu::stores::snapshots {

// Stores remembered at once (a host works with one store root; tests make
// many); beyond that the least recently used is read afresh.
constexpr size_t kMaxRememberedStores = 16;

// The certificates of each of `readOnlyFiles` (the system bundle, overlay
// files), in that order, shown read-only. While none of them changed since
// the last call the same contents object is answered, and checking that
// costs one stat of each.
std::shared_ptr<const StoreContents> ReadOnlyContents(const std::vector<std::filesystem::path>& readOnlyFiles);

// The certificates of the files of `view` (folder_index.h) and then those of
// ReadOnlyContents(readOnlyFiles). The same contents object is answered
// while the view and the read-only files are the same, and for contents
// equal to the last ones.
std::shared_ptr<const StoreContents> CurrentContents(const std::shared_ptr<const index::FolderView>& view,
                                                     const std::vector<std::filesystem::path>& readOnlyFiles);

}  // namespace zorbelu::stores::snapshots

#endif
