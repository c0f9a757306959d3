// CRL acquisition: the caller-owned CRL cache store, and the download of a
// CRL for every certificate of a chain into the core certificate store.
#pragma once

#include <openssl/x509.h>

#include <cstdint>

#include "certs/cert_list.h"
#include "certs/crl_fetch.h"
#include "platform/deadline.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

// A new empty store (free with FreeCrlCacheStore); NULL when memory is short.
ZORBELUCRLCacheStore* CreateCrlCacheStore();
// 1; 1001 for NULL; 2600 when the handle is no store (nothing freed).
[[nodiscard]] uint32_t FreeCrlCacheStore(ZORBELUCRLCacheStore* store);

// The first entry downloaded from exactly `url` (byte for byte), or NULL.
ZORBELUCRLCacheEntry* FindCacheEntryByUrl(ZORBELUCRLCacheStore* store, const char* url);

// Gives the core store a current CRL for every element of `list` (whose
// crlUrl must be filled), from the cache while fresh, else downloaded and
// kept in the cache. 1; 2506; or a download result 1202 to 1205. Every
// download ends by `deadline`, the calling verification's; none is started
// once it has passed (1203, as a download that ran out of time).
[[nodiscard]] uint32_t FetchCRLsForList(ZORBELCertStore* coreStore, const CertList& list,
                                        ZORBELUCRLCacheStore* cache, const platform::Deadline& deadline,
                                        ZORBELU_HWND owner);
// The same with a deadline `timeoutMs` from now.
[[nodiscard]] uint32_t FetchCRLsForList(ZORBELCertStore* coreStore, const CertList& list,
                                        ZORBELUCRLCacheStore* cache, uint32_t timeoutMs, ZORBELU_HWND owner);

}  // namespace zorbelu::certs
