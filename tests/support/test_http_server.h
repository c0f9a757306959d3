// A real HTTP/1.1 server on 127.0.0.1 for tests: serves files, answers POSTs
// (an RFC 3161 time-stamp endpoint among them), and misbehaves on request.
// Switches are per path (the request path without its query) and are applied
// in this order: count and record the request, delay, drop the connection,
// demand Basic authentication, redirect, fixed status, oversized body, then
// the path's handler or file; anything else is 404. All methods are thread-safe;
// switches may change while the server runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace zorbelu::test {

// A request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> headers;  // names as sent

    // The first value of a header, compared case-insensitively; "" if absent.
    std::string header(const std::string& name) const;
};

// What a handler answers.
struct HandlerReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/octet-stream";
};

class TestHttpServer {
public:
    using Handler = std::function<HandlerReply(const RecordedRequest&)>;

    TestHttpServer();
    ~TestHttpServer();  // stops the server
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Listens on 127.0.0.1, on `port` or, with 0, on a free ephemeral port.
    // Throws std::runtime_error when the port cannot be bound.
    void start(int port = 0);
    // Stops listening and waits for the requests in progress; delays are cut short.
    void stop();

    int port() const;
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path) const;

    // GET (and HEAD) of `path` answers 200 with these bytes.
    void serveFile(const std::string& path, std::string bytes,
                   std::string contentType = "application/octet-stream");
    // Every method on `path` is answered by `handler`.
    void setHandler(const std::string& path, Handler handler);
    // POST on `path` hands the request body (a DER TimeStampReq) to
    // `respond` and answers 200 with its result as application/timestamp-reply;
    // another method or content type than application/timestamp-query is 400.
    void setTsaHandler(const std::string& path, std::function<std::string(const std::string& requestDer)> respond);
    // POST on `path` answers 200 with the request's own body and content type.
    void setEchoHandler(const std::string& path);

    // ---- switches --------------------------------------------------------
    // Waits this long before answering (cut short by stop()).
    void setDelay(const std::string& path, std::chrono::milliseconds delay);
    // Closes the connection without any answer.
    void setCloseConnection(const std::string& path, bool on = true);
    // Answers 200 with a body of `bytes` bytes (a repeating pattern, see
    // oversizeByte), streamed without holding it in memory; with a
    // Content-Length, or chunked so that the client learns the size only
    // as the bytes arrive.
    void setOversize(const std::string& path, size_t bytes, bool chunked = false);
    // Answers 401 with a Basic challenge unless the request carries these credentials.
    void requireBasicAuth(const std::string& path, const std::string& user, const std::string& password);
    // Answers `status` (a 3xx) with this Location, which may be any URL
    // (ftp://, file://, another path of this server).
    void redirectTo(const std::string& path, const std::string& location, int status = 302);
    // Answers this status with a short text body.
    void setStatus(const std::string& path, int status);
    // Forgets the switches, file and handler of `path`.
    void clearPath(const std::string& path);

    // The byte at `offset` of an oversized body.
    static char oversizeByte(size_t offset) { return static_cast<char>('a' + offset % 26); }

    // ---- what was asked ---------------------------------------------------
    size_t requestCount(const std::string& path) const;
    // The last request on `path`; empty when there was none.
    RecordedRequest lastRequest(const std::string& path) const;
    void resetCounts();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace zorbelu::test
