// One HTTP transfer on libcurl, from the request to this library's result code.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "comm/connection_settings.h"
#include "comm/curl_library.h"
#include "zorbelcomm.h"

namespace zorbelu::comm {

// The most a body may hold; a larger one fails the transfer (1201).
constexpr size_t kMaxBodyBytes = ZORBELCOMM_MAX_BODY_BYTES;
// The time limit when the caller gives 0.
constexpr uint32_t kDefaultTimeoutMs = ZORBELCOMM_DEFAULT_TIMEOUT_MS;
constexpr long kMaxRedirects = 10;

struct TransferRequest {
    bool post = false;
    std::string url;
    std::string contentType;  // POST only
    std::string body;         // POST only
    uint32_t timeoutMs = kDefaultTimeoutMs;
    size_t maxBodyBytes = kMaxBodyBytes;
};

struct TransferResult {
    uint32_t code = 0;  // 1 or one of 1201..1205
    std::string body;   // the body of an HTTP 200 answer (code 1)
};

// Runs the transfer with the given settings on the process's libcurl, which
// the first transfer loads. Never throws.
TransferResult PerformTransfer(const TransferRequest& request, const ConnectionSettings& settings);
// The same on `curl`; a library that is not loaded fails the transfer (1201).
TransferResult PerformTransfer(const TransferRequest& request, const ConnectionSettings& settings,
                               const CurlLibrary& curl);

// What a finished transfer means for the caller: libcurl's result, the final
// HTTP status (0 when none), the status of a proxy CONNECT (0 when none) and
// whether the body went beyond the request's maximum.
uint32_t MapTransferOutcome(CURLcode result, long httpStatus, long connectStatus, bool bodyTooLarge);

}  // namespace zorbelu::comm
