// The HTTP test server on cpp-httplib, compiled with its pkg-config definitions (see CMakeLists.txt).
#include "support/test_http_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace zorbelu::test {
namespace {

// Shuts the connection without an answer: the socket of this process whose own and peer ports match.
bool ShutdownConnection(int localPort, int remotePort) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc/self/fd"), &closedir);
    if (!dir) return false;
    while (const dirent* entry = readdir(dir.get())) {
        const int sock = std::atoi(entry->d_name);
        sockaddr_in local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (getsockname(sock, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == localPort &&
            getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
            ntohs(peer.sin_port) == remotePort)
            return shutdown(sock, SHUT_RDWR) == 0;
    }
    return false;
}

struct Route {
    std::optional<std::pair<std::string, std::string>> file;  // bytes, content type
    TestHttpServer::Handler handler;
    std::chrono::milliseconds delay{0};
    bool closeConnection = false;
    std::optional<size_t> oversize;
    bool oversizeChunked = false;
    std::optional<std::string> expectedAuthorization;
    std::optional<std::pair<std::string, int>> redirect;
    int status = 0;
};

RecordedRequest Record(const httplib::Request& req) {
    return {req.method, req.path, req.body, {req.headers.begin(), req.headers.end()}};
}

const char* const kOctets = "application/octet-stream";

void Answer(httplib::Response& res, int status, const std::string& body, const std::string& contentType) {
    res.status = status;
    res.set_content(body, contentType.c_str());
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    return {};
}

struct TestHttpServer::State {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable wakeDelays;
    bool stopping = false;
    std::map<std::string, Route> routes;
    std::map<std::string, size_t> counts;
    std::map<std::string, RecordedRequest> last;

    void dispatch(const httplib::Request& req, httplib::Response& res);
    template <typename F>
    void edit(const std::string& path, F change) {
        std::lock_guard<std::mutex> lock(mutex);
        change(routes[path]);
    }
};

void TestHttpServer::State::dispatch(const httplib::Request& req, httplib::Response& res) {
    Route route;
    RecordedRequest recorded = Record(req);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ++counts[req.path];
        last[req.path] = recorded;
        if (auto it = routes.find(req.path); it != routes.end()) route = it->second;
        // The request keeps the switches it came with, should they change while it waits.
        if (route.delay.count() > 0) wakeDelays.wait_for(lock, route.delay, [this] { return stopping; });
    }
    if (route.closeConnection) {
        if (ShutdownConnection(req.local_port, req.remote_port)) return;
        // Should the socket not be found: promise a body and send none.
        return res.set_content_provider(1, kOctets, [](size_t, size_t, httplib::DataSink&) { return false; });
    }
    if (route.expectedAuthorization && req.get_header_value("Authorization") != *route.expectedAuthorization) {
        res.set_header("WWW-Authenticate", "Basic realm=\"zorbelu-test\"");
        return Answer(res, 401, "authentication required\n", "text/plain");
    }
    if (route.redirect) {
        res.set_header("Location", route.redirect->first);
        return Answer(res, route.redirect->second, "moved\n", "text/plain");
    }
    if (route.status != 0)
        return Answer(res, route.status, "status " + std::to_string(route.status) + "\n", "text/plain");
    if (route.oversize) {
        const size_t total = *route.oversize;
        const auto write = [total](size_t offset, httplib::DataSink& sink) {  // up to 64 KiB of the pattern
            std::string chunk(std::min<size_t>(total - offset, 64 * 1024), '\0');
            for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = TestHttpServer::oversizeByte(offset + i);
            return sink.write(chunk.data(), chunk.size());
        };
        res.status = 200;
        if (!route.oversizeChunked)
            return res.set_content_provider(total, kOctets, [write](size_t offset, size_t, httplib::DataSink& sink) {
                return write(offset, sink);
            });
        return res.set_chunked_content_provider(kOctets, [write, total](size_t offset, httplib::DataSink& sink) {
            if (offset < total) return write(offset, sink);
            sink.done();
            return true;
        });
    }
    if (route.handler) {
        HandlerReply reply;
        try {
            reply = route.handler(recorded);
        } catch (const std::exception& e) {
            reply = HandlerReply{500, std::string("handler failed: ") + e.what() + "\n", "text/plain"};
        }
        return Answer(res, reply.status, reply.body, reply.contentType);
    }
    if (!route.file) return Answer(res, 404, "not found\n", "text/plain");
    if (req.method != "GET" && req.method != "HEAD") return Answer(res, 405, "method not allowed\n", "text/plain");
    Answer(res, 200, route.file->first, route.file->second);
}

TestHttpServer::TestHttpServer() : state_(std::make_shared<State>()) {}

TestHttpServer::~TestHttpServer() { stop(); }

void TestHttpServer::start(int port) {
    if (state_->server) throw std::runtime_error("TestHttpServer: already started");
    std::signal(SIGPIPE, SIG_IGN);  // a dropped connection must not end the test process
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = false;
    }
    auto server = std::make_unique<httplib::Server>();
    State* state = state_.get();
    auto handler = [state](const httplib::Request& req, httplib::Response& res) { state->dispatch(req, res); };
    server->Get(".*", handler).Post(".*", handler).Put(".*", handler).Delete(".*", handler);
    // A connection that stays open holds a worker; keep stop() quick.
    server->set_keep_alive_timeout(1);
    server->set_read_timeout(5, 0);

    const int bound = port == 0 ? server->bind_to_any_port("127.0.0.1")
                                : (server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) throw std::runtime_error("TestHttpServer: cannot bind 127.0.0.1:" + std::to_string(port));
    httplib::Server* raw = server.get();
    state_->server = std::move(server);
    state_->port = bound;
    state_->thread = std::thread([raw] { raw->listen_after_bind(); });
    for (int waited = 0; !raw->is_running(); ++waited) {
        if (waited == 5000) {
            stop();
            throw std::runtime_error("TestHttpServer: the server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestHttpServer::stop() {
    if (!state_->server) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wakeDelays.notify_all();
    state_->server->stop();
    if (state_->thread.joinable()) state_->thread.join();
    state_->server.reset();  // waits for the workers
    state_->port = 0;
}

int TestHttpServer::port() const { return state_->port; }

std::string TestHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}

void TestHttpServer::serveFile(const std::string& path, std::string bytes, std::string contentType) {
    state_->edit(path, [&](Route& r) { r.file = std::make_pair(std::move(bytes), std::move(contentType)); });
}
void TestHttpServer::setHandler(const std::string& path, Handler handler) {
    state_->edit(path, [&](Route& r) { r.handler = std::move(handler); });
}

void TestHttpServer::setTsaHandler(const std::string& path,
                                   std::function<std::string(const std::string& requestDer)> respond) {
    setHandler(path, [respond = std::move(respond)](const RecordedRequest& req) {
        if (req.method != "POST" || strcasecmp(req.header("Content-Type").c_str(), "application/timestamp-query") != 0)
            return HandlerReply{400, "expected a POST of application/timestamp-query\n", "text/plain"};
        return HandlerReply{200, respond(req.body), "application/timestamp-reply"};
    });
}

void TestHttpServer::setEchoHandler(const std::string& path) {
    setHandler(path, [](const RecordedRequest& req) {
        const std::string type = req.header("Content-Type");
        return HandlerReply{200, req.body, type.empty() ? "application/octet-stream" : type};
    });
}
void TestHttpServer::setDelay(const std::string& path, std::chrono::milliseconds delay) {
    state_->edit(path, [&](Route& r) { r.delay = delay; });
}
void TestHttpServer::setCloseConnection(const std::string& path, bool on) {
    state_->edit(path, [&](Route& r) { r.closeConnection = on; });
}
void TestHttpServer::setOversize(const std::string& path, size_t bytes, bool chunked) {
    state_->edit(path, [&](Route& r) {
        r.oversize = bytes;
        r.oversizeChunked = chunked;
    });
}
void TestHttpServer::requireBasicAuth(const std::string& path, const std::string& user,
                                      const std::string& password) {
    const std::string expected = httplib::make_basic_authentication_header(user, password).second;
    state_->edit(path, [&](Route& r) { r.expectedAuthorization = expected; });
}
void TestHttpServer::redirectTo(const std::string& path, const std::string& location, int status) {
    state_->edit(path, [&](Route& r) { r.redirect = std::make_pair(location, status); });
}
void TestHttpServer::setStatus(const std::string& path, int status) {
    state_->edit(path, [&](Route& r) { r.status = status; });
}
void TestHttpServer::clearPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->routes.erase(path);
}

size_t TestHttpServer::requestCount(const std::string& path) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->counts.find(path);
    return it == state_->counts.end() ? 0 : it->second;
}

RecordedRequest TestHttpServer::lastRequest(const std::string& path) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->last.find(path);
    return it == state_->last.end() ? RecordedRequest{} : it->second;
}

}  // namespace zorbelu::test
