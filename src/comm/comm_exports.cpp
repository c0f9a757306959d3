// The download exports of libzorbelcomm and the credential query.
//
// A download whose body does not fit the caller's buffer answers 1002 with
// the body's size and keeps the body (body_cache.h); the caller's next call
// for the same request is then served from the kept body, without a second
// request, for as long as it keeps answering 1002 and until it fits.
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "comm/body_cache.h"
#include "comm/connection_settings.h"
#include "comm/http_transfer.h"
#include "zorbelcomm.h"

namespace zorbelu::comm {
namespace {

// Copies a body that fits into the caller's buffer (1), else reports its size (1002).
uint32_t Deliver(const std::string& body, uint8_t* buffer, uint32_t* length) {
    if (body.size() > *length) {
        *length = static_cast<uint32_t>(body.size());  // bodies stay below kMaxBodyBytes
        return ZORBELCOMM_ERR_BUFFER_TOO_SMALL;
    }
    if (!body.empty()) std::memcpy(buffer, body.data(), body.size());
    *length = static_cast<uint32_t>(body.size());
    return ZORBELCOMM_OK;
}

uint32_t Fetch(const TransferRequest& request, uint8_t* buffer, uint32_t* length) {
    RequestKey key{request.post ? "POST" : "GET", request.url, request.contentType, request.body};
    BodyCache& kept = KeptBodies();
    if (BodyCache::Body body = kept.Find(key)) {
        const uint32_t code = Deliver(*body, buffer, length);
        if (code == ZORBELCOMM_OK) kept.Drop(key);
        return code;
    }
    TransferResult result = PerformTransfer(request, CurrentConnectionSettings());
    if (result.code != ZORBELCOMM_OK) {
        *length = 0;
        return result.code;
    }
    const uint32_t code = Deliver(result.body, buffer, length);
    if (code == ZORBELCOMM_ERR_BUFFER_TOO_SMALL)
        kept.Keep(key, std::make_shared<const std::string>(std::move(result.body)));
    return code;
}

bool ValidBuffer(const uint8_t* buffer, const uint32_t* length) {
    return length != nullptr && (buffer != nullptr || *length == 0);
}

// A header value must stay on its line.
bool ValidHeaderValue(const char* value) { return std::strpbrk(value, "\r\n") == nullptr; }

}  // namespace
}  // namespace zorbelu::comm

using namespace zorbelu::comm;

extern "C" ZORBELCOMM_API uint32_t ZORBELPRVGetHTTPFileEx(const char* url, uint8_t* buffer, uint32_t* length,
                                                         uint32_t timeoutMs, ZORBELU_HWND /*owner*/) {
    if (url == nullptr || !ValidBuffer(buffer, length)) return ZORBELCOMM_ERR_PARAM;
    try {
        TransferRequest request;
        request.url = url;
        request.timeoutMs = timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs;
        return Fetch(request, buffer, length);
    } catch (...) {
        return ZORBELCOMM_ERR_FAILED;
    }
}

extern "C" ZORBELCOMM_API uint32_t ZORBELPRVPostHTTPEx(const char* url, const char* contentType,
                                                      const uint8_t* body, uint32_t bodyLength, uint8_t* buffer,
                                                      uint32_t* length, uint32_t timeoutMs,
                                                      ZORBELU_HWND /*owner*/) {
    if (url == nullptr || !ValidBuffer(buffer, length) || (body == nullptr && bodyLength > 0))
        return ZORBELCOMM_ERR_PARAM;
    if (contentType != nullptr && !ValidHeaderValue(contentType)) return ZORBELCOMM_ERR_PARAM;
    try {
        TransferRequest request;
        request.post = true;
        request.url = url;
        if (contentType != nullptr) request.contentType = contentType;
        if (bodyLength > 0) request.body.assign(reinterpret_cast<const char*>(body), bodyLength);
        request.timeoutMs = timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs;
        return Fetch(request, buffer, length);
    } catch (...) {
        return ZORBELCOMM_ERR_FAILED;
    }
}

extern "C" ZORBELCOMM_API uint32_t ZORBELPRVGetCredentialUser(char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return ZORBELCOMM_ERR_PARAM;
    try {
        const ConnectionSettings settings = CurrentConnectionSettings();
        if (!settings.hasCredentials) return ZORBELCOMM_ERR_NO_USER;
        const size_t n = std::min<size_t>(settings.user.size(), size - 1);
        std::memcpy(buffer, settings.user.data(), n);
        buffer[n] = '\0';
        return ZORBELCOMM_OK;
    } catch (...) {
        return ZORBELCOMM_ERR_FAILED;
    }
}
