// CRL distribution points of a certificate: which URL to download a CRL from.
#pragma once

#include <openssl/x509.h>

#include <cstdint>

#include "certs/cert_list.h"

namespace zorbelu::certs {

// A malloc'ed copy of the first plain-HTTP CRL URL of `cert` (x509/urls.h) and the number
// of its distribution point (from 1): 1; 2506 when there is none; 1005.
[[nodiscard]] uint32_t GetFirstCrlUrl(X509* cert, char** url, uint32_t* pointNo);

// Fills crlUrl and crlPointNo of every element in order: 1; 1000 for an
// empty list; else the first failure (later elements keep no URL).
[[nodiscard]] uint32_t FillCrlUrlsOfList(CertList& list);

}  // namespace zorbelu::certs
