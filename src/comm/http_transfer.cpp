// One HTTP transfer on libcurl's easy interface, through the table of the
// loaded library (curl_library.h).
//
// What a transfer does with the connection settings:
//   proxy mode 0  no proxy at all, whatever the environment says;
//   proxy mode 1  libcurl's own reading of http_proxy, https_proxy,
//                 all_proxy and no_proxy;
//   proxy mode 2  the proxy `host:port` of the settings, for every host.
// Credentials (user, password, domain) answer a challenge only and never go
// out unasked: to the proxy (407) in mode 2, the server (401) in mode 0. In
// mode 1 the environment decides, URL by URL, whether a proxy stands in
// between, so they answer the proxy's challenge and the server's. With a domain the user name is given as "domain\user", the form
// NTLM expects; Basic and Digest send that text as the user name. libcurl
// picks the strongest method the challenge offers.
#include "comm/http_transfer.h"

#include <cstring>
#include <exception>

#include "comm/curl_handles.h"
#include "zorbelcomm.h"

namespace zorbelu::comm {
namespace {

struct BodySink {
    std::string body;
    size_t maxBytes = kMaxBodyBytes;
    bool tooLarge = false;
    bool outOfMemory = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    if (n > sink->maxBytes - sink->body.size()) {
        sink->tooLarge = true;
        return 0;  // aborts the transfer with CURLE_WRITE_ERROR
    }
    try {
        sink->body.append(data, n);
    } catch (...) {
        sink->outOfMemory = true;
        return 0;
    }
    return n;
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    // A status line starts another answer (after a redirect, an
    // authentication round or a proxy CONNECT); only the last answer's body
    // is the result.
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) sink->body.clear();
    return n;
}

class Options {
public:
    Options(const CurlApi& curl, CURL* handle) : curl_(curl), handle_(handle) {}
    template <typename T>
    void Set(CURLoption option, T value) {
        if (result_ == CURLE_OK) result_ = curl_.easySetopt(handle_, option, value);
    }
    bool Ok() const { return result_ == CURLE_OK; }

private:
    const CurlApi& curl_;
    CURL* handle_;
    CURLcode result_ = CURLE_OK;
};

// libcurl would guess a scheme for a URL without one; only an explicit
// http:// or https:// is fetched.
bool HasHttpScheme(const std::string& url) {
    // An ASCII comparison that ignores case, whatever the locale.
    auto startsWith = [&](const char* prefix) {
        const size_t n = std::strlen(prefix);
        if (url.size() < n) return false;
        for (size_t i = 0; i < n; ++i) {
            const char c = url[i];
            if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != prefix[i]) return false;
        }
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

std::string CredentialUser(const ConnectionSettings& settings) {
    if (settings.domain.empty()) return settings.user;
    return settings.domain + "\\" + settings.user;
}

TransferResult Perform(const TransferRequest& request, const ConnectionSettings& settings,
                       const CurlLibrary& library) {
    TransferResult out;
    out.code = ZORBELCOMM_ERR_FAILED;
    if (!HasHttpScheme(request.url) || !library.loaded) return out;
    const CurlApi& curl = library.api;
    CurlEasy handle(curl.easyInit(), CurlEasyDeleter{&curl});
    if (!handle) return out;
    if (settings.proxyMode == 2 && settings.proxyServer.empty()) return out;

    BodySink sink;
    sink.maxBytes = request.maxBodyBytes;
    const std::string user = CredentialUser(settings);
    CurlSlist headers(nullptr, CurlSlistDeleter{&curl});

    Options opt(curl, handle.get());
    opt.Set(CURLOPT_URL, request.url.c_str());
    opt.Set(CURLOPT_PROTOCOLS_STR, "http,https");
    opt.Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    opt.Set(CURLOPT_FOLLOWLOCATION, 1L);
    opt.Set(CURLOPT_MAXREDIRS, kMaxRedirects);
    opt.Set(CURLOPT_NOSIGNAL, 1L);
    opt.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
    opt.Set(CURLOPT_USERAGENT, "zorbelcomm/1.0");
    opt.Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBodyBytes));
    opt.Set(CURLOPT_WRITEFUNCTION, &WriteBody);
    opt.Set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    opt.Set(CURLOPT_HEADERFUNCTION, &OnHeaderLine);
    opt.Set(CURLOPT_HEADERDATA, static_cast<void*>(&sink));

    switch (settings.proxyMode) {
    case 0:
        opt.Set(CURLOPT_PROXY, "");  // "" means no proxy, environment included
        opt.Set(CURLOPT_NOPROXY, "*");
        break;
    case 2:
        opt.Set(CURLOPT_PROXY, settings.proxyServer.c_str());
        opt.Set(CURLOPT_NOPROXY, "");  // no_proxy of the environment does not apply
        break;
    default:
        break;  // 1: libcurl reads the environment
    }
    if (settings.hasCredentials) {
        if (settings.proxyMode != 0) {
            opt.Set(CURLOPT_PROXYUSERNAME, user.c_str());
            opt.Set(CURLOPT_PROXYPASSWORD, settings.password.c_str());
            opt.Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
        }
        if (settings.proxyMode != 2) {
            opt.Set(CURLOPT_USERNAME, user.c_str());
            opt.Set(CURLOPT_PASSWORD, settings.password.c_str());
            opt.Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        }
    }
    if (request.post) {
        const std::string contentType =
            "Content-Type: " + (request.contentType.empty() ? std::string("application/octet-stream")
                                                              : request.contentType);
        if (!AppendHeader(headers, contentType.c_str()) || !AppendHeader(headers, "Expect:")) return out;
        opt.Set(CURLOPT_POST, 1L);
        opt.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        opt.Set(CURLOPT_POSTFIELDS, request.body.data());
        opt.Set(CURLOPT_HTTPHEADER, headers.get());
    }
    if (!opt.Ok()) return out;

    const CURLcode result = curl.easyPerform(handle.get());
    long httpStatus = 0;
    long connectStatus = 0;
    curl.easyGetinfo(handle.get(), CURLINFO_RESPONSE_CODE, &httpStatus);
    curl.easyGetinfo(handle.get(), CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    if (sink.outOfMemory) return out;
    out.code = MapTransferOutcome(result, httpStatus, connectStatus, sink.tooLarge);
    if (out.code == ZORBELCOMM_OK) out.body = std::move(sink.body);
    return out;
}

}  // namespace

uint32_t MapTransferOutcome(CURLcode result, long httpStatus, long connectStatus, bool bodyTooLarge) {
    if (result == CURLE_OPERATION_TIMEDOUT) return ZORBELCOMM_ERR_TIMEOUT;
    if (connectStatus == 407 || httpStatus == 407) return ZORBELCOMM_ERR_PROXY_AUTH;
    if (httpStatus == 401) return ZORBELCOMM_ERR_SERVER_AUTH;
    switch (result) {
    case CURLE_OK:
        break;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return ZORBELCOMM_ERR_CONNECT;
    default:
        return ZORBELCOMM_ERR_FAILED;
    }
    if (bodyTooLarge || httpStatus != 200) return ZORBELCOMM_ERR_FAILED;
    return ZORBELCOMM_OK;
}

TransferResult PerformTransfer(const TransferRequest& request, const ConnectionSettings& settings) {
    return PerformTransfer(request, settings, ProcessCurl());
}

TransferResult PerformTransfer(const TransferRequest& request, const ConnectionSettings& settings,
                               const CurlLibrary& curl) {
    try {
        return Perform(request, settings, curl);
    } catch (...) {
        TransferResult failed;
        failed.code = ZORBELCOMM_ERR_FAILED;
        return failed;
    }
}

}  // namespace zorbelu::comm
