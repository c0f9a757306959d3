// zorbelu's CRLs on disk, so that a CRL downloaded by one run serves the
// next ones while it is current (its nextUpdate has not passed).
//
// Folder: $XDG_CACHE_HOME/zorbelu, else ~/.cache/zorbelu (made 0700). One
// file per CRL URL, named by the URL's SHA-256 (".crl"), holding the CRL's
// position in the store it was kept from, the URL (each on a line of its
// own) and the CRL as downloaded. Before a verification every current
// CRL of the folder goes into the library's CRL cache store (the store the
// verification calls take), which consults it by URL before downloading;
// afterwards every current CRL of the store is written back. Writing is
// atomic (a temporary file of the folder, 0600, renamed over the old one);
// no file or folder is followed through a link. Bounds: kMaxCachedCrlBytes
// per CRL, kMaxCachedCrls files: beyond that the oldest go.
#pragma once

#include <filesystem>
#include <optional>

#include "cli_support.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

inline constexpr size_t kMaxCachedCrlBytes = 16u << 20;
inline constexpr size_t kMaxCachedCrls = 32;

// A CRL cache store filled from the folder for one verification, written
// back when it goes. No folder with --no-cache, nor when it cannot be made:
// then Store() is an empty store, never written.
class CrlDiskCache {
public:
    explicit CrlDiskCache(const Arguments& args);
    ~CrlDiskCache();
    CrlDiskCache(const CrlDiskCache&) = delete;
    CrlDiskCache& operator=(const CrlDiskCache&) = delete;

    ZORBELUCRLCacheStore* Store() const { return store_; }

private:
    void Load();
    void Save() const;

    int folder_ = -1;  // an open descriptor of the folder
    ZORBELUCRLCacheStore* store_ = nullptr;
};

}  // namespace zorbelu::cli
