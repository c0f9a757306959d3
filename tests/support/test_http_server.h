// An HTTP/1.1 server on 127.0.0.1 for tests (docs/comm.md) with per-path switches to misbehave; thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace zorbelu::test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> headers;  // names as sent
    std::string header(const std::string& name) const;  // the first value, case-insensitive; "" if absent
};

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

    void start(int port = 0);  // 0: a free port; throws std::runtime_error when it cannot bind
    void stop();               // waits for the requests in progress; delays are cut short
    int port() const;
    std::string url(const std::string& path) const;  // "http://127.0.0.1:<port>" + path

    // GET (and HEAD) of `path` answers 200 with these bytes.
    void serveFile(const std::string& path, std::string bytes,
                   std::string contentType = "application/octet-stream");
    // Every method on `path` is answered by `handler`.
    void setHandler(const std::string& path, Handler handler);
    // A POST of application/timestamp-query answers 200 application/timestamp-reply with respond(body); else 400.
    void setTsaHandler(const std::string& path, std::function<std::string(const std::string& requestDer)> respond);
    // POST on `path` answers 200 with the request's own body and content type.
    void setEchoHandler(const std::string& path);

    // Switches, in the order they apply (after counting and recording the request).
    void setDelay(const std::string& path, std::chrono::milliseconds delay);  // cut short by stop()
    void setCloseConnection(const std::string& path, bool on = true);        // no answer at all
    void requireBasicAuth(const std::string& path, const std::string& user, const std::string& password);  // 401
    void redirectTo(const std::string& path, const std::string& location, int status = 302);  // any Location
    void setStatus(const std::string& path, int status);                                     // a short text body
    // 200 with `bytes` bytes of oversizeByte(i), streamed, with a Content-Length or chunked.
    void setOversize(const std::string& path, size_t bytes, bool chunked = false);
    void clearPath(const std::string& path);  // forgets switches, file and handler of `path`
    static char oversizeByte(size_t offset) { return static_cast<char>('a' + offset % 26); }

    size_t requestCount(const std::string& path) const;
    RecordedRequest lastRequest(const std::string& path) const;  // empty when there was none

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace zorbelu::test
