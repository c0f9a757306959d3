// What a directory store shows, remembered between opens: a verification
// opens "CA" and "ROOT" every time, and they rarely change in between.
#ifndef ZORBELU_PLATFORM_STORES_STORE_SNAPSHOTS_H
#define ZORBELU_PLATFORM_STORES_STORE_SNAPSHOTS_H

#include <filesystem>
#include <memory>
#include <vector>

#include "platform/stores/system_store.h"

namespace zorbelu::stores::snapshots {

// Stores remembered at once (a host works with one store root; tests make
// many); beyond that the least recently used is read afresh.
constexpr size_t kMaxRememberedStores = 16;

// The certificates of `folder`'s certificate files and then of each of
// `readOnlyFiles` (the system bundle, overlay files), in that order, shown
// read-only. While neither the folder, nor any of its certificate files,
// nor any read-only file changed since the last call, the same
// contents object is answered, and checking that costs one stat of each;
// else what changed is read again. Contents equal to the last ones are
// answered as the same object too.
std::shared_ptr<const StoreContents> CurrentContents(const std::filesystem::path& folder,
                                                     const std::vector<std::filesystem::path>& readOnlyFiles);

}  // namespace zorbelu::stores::snapshots

#endif
