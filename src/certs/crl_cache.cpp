#include "certs/crl_cache.h"

#include <cstdlib>
#include <cstring>

#include "certs/certificate_decoding.h"
#include "certs/crl_fetch.h"
#include "frame/module_state.h"
#include "platform/clock.h"
#include "zorbel.h"

namespace zorbelu::certs {
namespace {

constexpr uint32_t kDownloadStep = 10000;
constexpr int kPassesPerCertificate = 6;

bool IsCacheStore(const ZORBELUCRLCacheStore* store) {
    return store != nullptr && store->size == ZORBELU_CRL_CACHE_STORE_MARK;
}

void FreeEntry(ZORBELUCRLCacheEntry* entry) {
    std::free(entry->url);
    std::free(entry->data);
    std::free(entry);
}

// Replaces the entry's bytes. When memory is short the entry is left with
// none, so that a later use of it fails instead of using stale bytes.
bool SetEntryData(ZORBELUCRLCacheEntry* entry, const uint8_t* bytes, uint32_t length) {
    std::free(entry->data);
    entry->data = nullptr;
    entry->dataLength = 0;
    auto* copy = static_cast<uint8_t*>(std::malloc(length));
    if (copy == nullptr) return false;
    std::memcpy(copy, bytes, length);
    entry->data = copy;
    entry->dataLength = length;
    entry->downloadTime = static_cast<uint32_t>(platform::Now());
    return true;
}

ZORBELUCRLCacheEntry* AppendEntry(ZORBELUCRLCacheStore* cache, const char* url, const uint8_t* bytes,
                                  uint32_t length) {
    auto* entry = static_cast<ZORBELUCRLCacheEntry*>(std::calloc(1, sizeof(ZORBELUCRLCacheEntry)));
    if (entry == nullptr) return nullptr;
    const size_t urlLength = std::strlen(url);
    entry->url = static_cast<char*>(std::malloc(urlLength + 1));
    if (entry->url == nullptr || !SetEntryData(entry, bytes, length)) {
        FreeEntry(entry);
        return nullptr;
    }
    std::memcpy(entry->url, url, urlLength + 1);
    entry->urlLength = static_cast<uint32_t>(urlLength);
    ZORBELUCRLCacheEntry** tail = &cache->first;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = entry;
    return entry;
}

// Serves one certificate: finds or downloads its CRL and hands it to the
// core store. `walk` follows the cache in step with the list, so that a
// series of verifications of one chain finds each CRL where it left it.
uint32_t ServeElement(ZORBELCertStore* coreStore, const ZORBELUPRVCertInfo& item, ZORBELUCRLCacheStore* cache,
                      ZORBELUCRLCacheEntry*& walk, const platform::Deadline& deadline, ZORBELU_HWND owner) {
    if (item.crlUrl == nullptr) return ZORBELU_VS_REVOCATION_UNKNOWN;
    ZORBELUCRLCacheEntry* entry = nullptr;
    uint32_t encoding = 0;
    int downloads = kPassesPerCertificate;
    if (walk != nullptr) {
        --downloads;  // consulting the cache takes one pass
        ZORBELUCRLCacheEntry* found = FindCacheEntryByUrl(cache, item.crlUrl);
        walk = found;  // a stale CRL is replaced in its own entry; a new one goes at the end
        if (found != nullptr) {
            const CrlState state = ReadCrlState(found->data, found->dataLength, &encoding);
            if (state == CrlState::kUnreadable) return ZORBELU_VS_REVOCATION_UNKNOWN;
            if (state == CrlState::kCurrent) entry = found;
        }
    }
    if (entry == nullptr) {
        // The call's time limit is each download's own: what remains of it.
        // A program that takes CRLs of any size reads the announced size.
        const bool anySize = TakesCrlsOfAnySize();
        VectorRoom room(kDownloadStep, anySize ? 0 : kDownloadStep);
        const DownloadLimits limits = anySize ? DownloadLimits{2, CrlLimit(0)} : DownloadLimits{downloads};
        const FetchedCrl fetched = FetchCrl(item.crlUrl, limits, std::ref(room), deadline, owner, CrlDecoding::kStateOnly);
        const Download& download = fetched.download;
        if (download.result != ZORBELU_OK) return CrlDownloadFailure(download.result);
        if (walk != nullptr) {
            if (!SetEntryData(walk, download.data, download.length)) return ZORBELU_VS_REVOCATION_UNKNOWN;
        } else {
            walk = AppendEntry(cache, item.crlUrl, download.data, download.length);
            if (walk == nullptr) return ZORBELU_VS_REVOCATION_UNKNOWN;
        }
        entry = walk;
        if (fetched.state == CrlState::kUnreadable) return ZORBELU_VS_REVOCATION_UNKNOWN;  // fresh: not tested against nextUpdate
        encoding = fetched.encoding;
    }
    ZORBELUCertBlob record{entry->data, entry->dataLength, encoding};
    if (ZORBELAddCRL(coreStore, &record) != ZORBELU_OK) return ZORBELU_VS_REVOCATION_UNKNOWN;
    if (walk != nullptr) walk = walk->next;
    return ZORBELU_OK;
}

}  // namespace

ZORBELUCRLCacheStore* CreateCrlCacheStore() {
    auto* store = static_cast<ZORBELUCRLCacheStore*>(std::calloc(1, sizeof(ZORBELUCRLCacheStore)));
    if (store != nullptr) store->size = ZORBELU_CRL_CACHE_STORE_MARK;
    return store;
}

uint32_t FreeCrlCacheStore(ZORBELUCRLCacheStore* store) {
    if (store == nullptr) return ZORBELU_ERR_PARAM;
    if (!IsCacheStore(store)) return ZORBELU_ERR_CRL_CACHE;
    for (ZORBELUCRLCacheEntry* entry = store->first; entry != nullptr;) {
        ZORBELUCRLCacheEntry* next = entry->next;
        FreeEntry(entry);
        entry = next;
    }
    store->size = 0;
    std::free(store);
    return ZORBELU_OK;
}

ZORBELUCRLCacheEntry* FindCacheEntryByUrl(ZORBELUCRLCacheStore* store, const char* url) {
    if (store == nullptr || url == nullptr) return nullptr;
    const size_t length = std::strlen(url);
    for (ZORBELUCRLCacheEntry* entry = store->first; entry != nullptr; entry = entry->next)
        if (entry->urlLength == length && std::memcmp(entry->url, url, length) == 0) return entry;
    return nullptr;
}

uint32_t FetchCRLsForList(ZORBELCertStore* coreStore, const CertList& list, ZORBELUCRLCacheStore* cache,
                          const platform::Deadline& deadline, ZORBELU_HWND owner) {
    if (list.empty()) return ZORBELU_OK;
    if (!IsCacheStore(cache)) return ZORBELU_ERR_CRL_CACHE;
    ZORBELUCRLCacheEntry* walk = cache->first;
    for (const ZORBELUPRVCertInfo& item : list) {
        const uint32_t result = ServeElement(coreStore, item, cache, walk, deadline, owner);
        if (result != ZORBELU_OK) return result;
    }
    return ZORBELU_OK;
}

uint32_t FetchCRLsForList(ZORBELCertStore* coreStore, const CertList& list, ZORBELUCRLCacheStore* cache,
                          uint32_t timeoutMs, ZORBELU_HWND owner) {
    return FetchCRLsForList(coreStore, list, cache, platform::Deadline::After(timeoutMs), owner);
}

}  // namespace zorbelu::certs

using zorbelu::frame::GuardedExport;

extern "C" {

ZORBELU_API uint32_t ZORBELUCreateCRLCacheStore(ZORBELUCRLCacheStore** store) {
    return GuardedExport(ZORBELU_ERR_MEMORY, [&] {
        if (store == nullptr) return ZORBELU_ERR_MEMORY;
        *store = zorbelu::certs::CreateCrlCacheStore();
        return *store != nullptr ? ZORBELU_OK : ZORBELU_ERR_MEMORY;
    });
}

ZORBELU_API uint32_t ZORBELUFreeCRLCacheStore(ZORBELUCRLCacheStore* store) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return zorbelu::certs::FreeCrlCacheStore(store); });
}

}  // extern "C"
