#include "certs/crl_cache.h"

#include <openssl/pem.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "certs/certificate_decoding.h"
#include "certs/openssl_ptr.h"
#include "core/der_time.h"
#include "frame/module_state.h"
#include "platform/clock.h"
#include "platform/stores/decoded_objects.h"
#include "zorbel.h"
#include "zorbelcomm.h"

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

// A cached CRL is read again with every verification that uses it: a DER
// CRL is decoded once per process (platform/stores/decoded_objects.h).
X509CrlPtr ParseCrl(const uint8_t* bytes, uint32_t length, uint32_t* encoding) {
    if (bytes == nullptr || length == 0 || length > INT32_MAX) return nullptr;
    *encoding = DetectEncoding(bytes, length);
    if (*encoding == ZORBELU_ENCODING_DER) {
        if (X509_CRL* shared = stores::SharedCrl(bytes, length)) return X509CrlPtr(shared);
    }
    BioPtr bio(BIO_new_mem_buf(bytes, static_cast<int>(length)));
    if (!bio) return nullptr;
    return X509CrlPtr(*encoding == ZORBELU_ENCODING_PEM ? PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr)
                                                        : d2i_X509_CRL_bio(bio.get(), nullptr));
}

// What a download that did not deliver a CRL means to the caller.
uint32_t DownloadFailure(uint32_t result) {
    if (result == ZORBELU_ERR_COMM_PROXY_AUTH || result == ZORBELU_ERR_COMM_SERVER_AUTH) {
        // Without configured credentials an authentication request is just
        // an unobtainable CRL.
        char user[520] = {};
        return ZORBELPRVGetCredentialUser(user, sizeof user) == ZORBELU_ERR_NO_USER ? ZORBELU_VS_REVOCATION_UNKNOWN
                                                                                      : result;
    }
    if (result == ZORBELU_ERR_COMM_CONNECT || result == ZORBELU_ERR_COMM_TIMEOUT) return result;
    return ZORBELU_VS_REVOCATION_UNKNOWN;
}

// Serves one certificate: finds or downloads its CRL and hands it to the
// core store. `walk` follows the cache in step with the list, so that a
// series of verifications of one chain finds each CRL where it left it.
uint32_t ServeElement(ZORBELCertStore* coreStore, const ZORBELUPRVCertInfo& item, ZORBELUCRLCacheStore* cache,
                      ZORBELUCRLCacheEntry*& walk, const platform::Deadline& deadline, ZORBELU_HWND owner) {
    if (item.crlUrl == nullptr) return ZORBELU_VS_REVOCATION_UNKNOWN;
    ZORBELUCRLCacheEntry* entry = nullptr;
    X509CrlPtr crl;
    uint32_t encoding = 0;
    bool consulted = false;
    uint32_t capacity = kDownloadStep;
    for (int pass = 0; pass < kPassesPerCertificate && !crl; ++pass) {
        if (walk != nullptr && !consulted) {
            consulted = true;
            ZORBELUCRLCacheEntry* found = FindCacheEntryByUrl(cache, item.crlUrl);
            if (found == nullptr) {
                walk = nullptr;  // the download becomes a new entry at the end
                continue;
            }
            walk = found;  // a stale CRL is replaced in its own entry
            X509CrlPtr cached = ParseCrl(found->data, found->dataLength, &encoding);
            if (!cached) return ZORBELU_VS_REVOCATION_UNKNOWN;
            if (!IsCRLPastNextUpdate(cached.get())) {
                entry = found;
                crl = std::move(cached);
            }
            continue;
        }
        // The call's time limit is each download's own: what remains of it.
        const uint32_t allowed = deadline.RemainingMs();
        if (allowed == 0) return ZORBELU_ERR_COMM_TIMEOUT;
        std::vector<uint8_t> buffer(capacity, 0);
        uint32_t length = capacity;
        const uint32_t result = ZORBELPRVGetHTTPFileEx(item.crlUrl, buffer.data(), &length, allowed, owner);
        if (result == ZORBELU_ERR_BUFFER_TOO_SMALL) {
            capacity += kDownloadStep;
            continue;
        }
        if (result != ZORBELU_OK) return DownloadFailure(result);
        if (walk != nullptr) {
            if (!SetEntryData(walk, buffer.data(), length)) return ZORBELU_VS_REVOCATION_UNKNOWN;
        } else {
            walk = AppendEntry(cache, item.crlUrl, buffer.data(), length);
            if (walk == nullptr) return ZORBELU_VS_REVOCATION_UNKNOWN;
        }
        entry = walk;
        crl = ParseCrl(entry->data, entry->dataLength, &encoding);  // fresh: not tested against nextUpdate
        if (!crl) return ZORBELU_VS_REVOCATION_UNKNOWN;
    }
    if (!crl) return ZORBELU_VS_REVOCATION_UNKNOWN;
    ZORBELUCertBlob record{entry->data, entry->dataLength, encoding};
    if (ZORBELAddCRL(coreStore, &record) != ZORBELU_OK) return ZORBELU_VS_REVOCATION_UNKNOWN;
    if (walk != nullptr) walk = walk->next;
    return ZORBELU_OK;
}

int TwoDigits(const unsigned char* text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

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

bool IsCRLPastNextUpdate(const X509_CRL* crl) {
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
    // Only a DER UTCTime is read; anything else (GeneralizedTime included) is
    // no usable nextUpdate, and the CRL is fetched again.
    if (next == nullptr || ASN1_STRING_type(next) != V_ASN1_UTCTIME) return true;
    const unsigned char* text = ASN1_STRING_get0_data(next);
    const std::string_view view(reinterpret_cast<const char*>(text), static_cast<size_t>(ASN1_STRING_length(next)));
    if (!zorbel::IsDerTime(view, zorbel::DerTimeType::kUtcTime)) return true;
    std::tm broken{};
    broken.tm_year = 2000 + TwoDigits(text) - 1900;
    broken.tm_mon = TwoDigits(text + 2) - 1;
    broken.tm_mday = TwoDigits(text + 4);
    broken.tm_hour = TwoDigits(text + 6);
    broken.tm_min = TwoDigits(text + 8);
    return platform::Now() > static_cast<int64_t>(timegm(&broken));
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
