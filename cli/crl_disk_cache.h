// zorbelu's CRLs on disk, so that a CRL downloaded by one run serves the
// next ones while it is current (its nextUpdate has not passed).
//
// Folder: $XDG_CACHE_HOME/zorbelu, else ~/.cache/zorbelu (made 0700). One
// file per CRL URL, named by the URL's SHA-256 (".crl"), holding the CRL's
// position in the store it was kept from, the URL (each on a line of its
// own) and the CRL as downloaded. Before a verification every current
// CRL of the folder goes into the library's CRL cache store (the store the
// verification calls take), which consults it by URL before downloading;
// afterwards every current CRL it downloaded into the store is written
// back. Writing is
// atomic (a temporary file of the folder, 0600, renamed over the old one);
// no file or folder is followed through a link. Bounds: kMaxCachedCrlBytes
// per CRL, kMaxCachedCrlsBytes read per run, kMaxCachedCrls files: beyond
// that the oldest go.
#pragma once

#include <filesystem>
#include <optional>

#include "cli_support.h"
#include "platform/stores/decoded_objects.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

// A CRL as large as the library decodes and keeps compactly; and what one
// run reads from the folder at most, the newest files first.
inline constexpr size_t kMaxCachedCrlBytes = stores::kMaxDecodedCrlBytes;
inline constexpr size_t kMaxCachedCrlsBytes = 64u << 20;
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
