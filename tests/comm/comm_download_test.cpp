// The download exports of libzorbelcomm against a real HTTP server and a real forward proxy on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_forward_proxy.h"
#include "support/served_pki.h"
#include "zorbelcomm.h"

namespace {

using zorbelu::test::ClosedLoopbackPort;
using zorbelu::test::ScopedEnv;
using zorbelu::test::TestForwardProxy;
using zorbelu::test::TestHttpServer;
using Credentials = std::optional<std::vector<std::string>>;

struct Download {
    uint32_t code = 0;
    uint32_t length = 0;
    std::string body;
};

// A GET, or a POST when `contentType` is given.
Download Fetch(const std::string& url, uint32_t capacity = 1u << 20, uint32_t timeoutMs = 5000,
               const char* contentType = nullptr, const std::string& post = {}) {
    std::vector<uint8_t> buffer(capacity);
    Download d;
    d.length = capacity;
    uint8_t* out = capacity ? buffer.data() : nullptr;
    d.code = contentType == nullptr && post.empty()
                 ? ZORBELPRVGetHTTPFileEx(url.c_str(), out, &d.length, timeoutMs, nullptr)
                 : ZORBELPRVPostHTTPEx(url.c_str(), contentType, reinterpret_cast<const uint8_t*>(post.data()),
                                       static_cast<uint32_t>(post.size()), out, &d.length, timeoutMs, nullptr);
    if (d.code == ZORBELCOMM_OK) d.body.assign(reinterpret_cast<const char*>(buffer.data()), d.length);
    return d;
}

Download Post(const std::string& url, const char* contentType, const std::string& body, uint32_t capacity = 1u << 20) {
    return Fetch(url, capacity, 5000, contentType, body);
}

ZORBELUProxyInfo Settings(uint32_t proxyMode, const std::string& proxyServer = {}, Credentials credentials = {}) {
    ZORBELUProxyInfo info{};
    info.proxyMode = proxyMode;
    std::strncpy(info.proxyServer, proxyServer.c_str(), sizeof info.proxyServer - 1);
    info.credentialMode = credentials ? ZORBELU_CREDENTIALS_GIVEN : ZORBELU_CREDENTIALS_NONE;
    char* fields[] = {info.credential1, info.credential2, info.credential3};
    for (size_t i = 0; credentials && i < credentials->size() && i < 3; ++i)
        std::strncpy(fields[i], (*credentials)[i].c_str(), sizeof info.credential1 - 1);
    return info;
}

void Apply(const ZORBELUProxyInfo& info) { ASSERT_EQ(ZORBELPRVSetProxy(&info), ZORBELCOMM_OK); }

std::string AllBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

class CommDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        Apply(Settings(ZORBELU_PROXY_DIRECT));
        server.start();
    }
    std::string closedUrl() const { return "http://127.0.0.1:" + std::to_string(closed.port()); }
    TestHttpServer server;
    ClosedLoopbackPort closed;
};

TEST_F(CommDownloadTest, BodyArrivesByteForByteIntoAnExactBuffer) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{300000}}) {
        SCOPED_TRACE(size);
        server.serveFile("/file", AllBytes(size));
        const Download exact = Fetch(server.url("/file"), static_cast<uint32_t>(size));
        EXPECT_EQ(exact.code, ZORBELCOMM_OK);
        EXPECT_EQ(exact.length, size);
        EXPECT_TRUE(exact.body == AllBytes(size));
    }
}

// A body too large for the buffer is kept for the retry of the same request only.
TEST_F(CommDownloadTest, TooSmallKeepsTheBodyForTheRetryOfTheSameRequestOnly) {
    server.serveFile("/big.crl", AllBytes(25000));
    for (uint32_t capacity : {10000u, 10000u, 20000u}) {
        const Download d = Fetch(server.url("/big.crl"), capacity);
        EXPECT_EQ(d.code, ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
        EXPECT_EQ(d.length, 25000u);
    }
    EXPECT_TRUE(Fetch(server.url("/big.crl"), 30000).body == AllBytes(25000));
    EXPECT_EQ(server.requestCount("/big.crl"), 1u);
    EXPECT_EQ(Fetch(server.url("/big.crl"), 30000).code, ZORBELCOMM_OK);  // once delivered, the kept body is gone
    EXPECT_EQ(server.requestCount("/big.crl"), 2u);

    server.setHandler("/a", [](const zorbelu::test::RecordedRequest& req) {
        return zorbelu::test::HandlerReply{200, req.method == "GET" ? std::string(5000, 'a') : "posted", "text/plain"};
    });
    server.serveFile("/b", "b");
    server.setEchoHandler("/echo");
    EXPECT_EQ(Fetch(server.url("/a"), 100).code, ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Fetch(server.url("/b"), 100).code, ZORBELCOMM_OK);                // another request in between
    EXPECT_EQ(Post(server.url("/a"), "text/plain", "x").body, "posted");  // a POST is another request
    EXPECT_EQ(Post(server.url("/echo"), "text/plain", std::string(200, '1'), 100).code,
              ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Post(server.url("/echo"), "text/plain", std::string(200, '2')).body, std::string(200, '2'));
    EXPECT_EQ(Post(server.url("/echo"), "text/plain", std::string(200, '1')).body, std::string(200, '1'));
    EXPECT_EQ(server.requestCount("/echo"), 2u);
    EXPECT_EQ(Fetch(server.url("/a"), 6000).length, 5000u);
    EXPECT_EQ(server.requestCount("/a"), 2u);  // from the kept body
    // New settings drop what is kept.
    EXPECT_EQ(Fetch(server.url("/a"), 100).code, ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    Apply(Settings(ZORBELU_PROXY_DIRECT));
    EXPECT_EQ(Fetch(server.url("/a"), 6000).code, ZORBELCOMM_OK);
    EXPECT_EQ(server.requestCount("/a"), 4u);
}

TEST_F(CommDownloadTest, ConcurrentRetriesEachGetTheirOwnBody) {
    constexpr int kThreads = 4;
    const auto path = [](int i) { return "/t" + std::to_string(i); };
    for (int i = 0; i < kThreads; ++i) server.serveFile(path(i), std::string(20000 + i, char('a' + i)));
    std::vector<std::thread> threads;
    std::vector<Download> results(kThreads);
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            if (Fetch(server.url(path(i)), 10000).code == ZORBELCOMM_ERR_BUFFER_TOO_SMALL)
                results[i] = Fetch(server.url(path(i)), 30000);
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i].body, std::string(20000 + i, char('a' + i))) << i;
        EXPECT_EQ(server.requestCount(path(i)), 1u) << i;
    }
}

// Every failure of a download and its code; nothing is handed out.
TEST_F(CommDownloadTest, FailuresAndTheirCodes) {
    server.serveFile("/target", "target");
    server.serveFile("/slow.crl", "late");
    server.setDelay("/slow.crl", std::chrono::milliseconds(4000));
    server.setStatus("/missing", 404);
    server.setStatus("/broken", 500);
    server.setStatus("/no-content", 204);
    server.setCloseConnection("/drop");
    server.redirectTo("/to-file", "file:///etc/hostname");
    server.redirectTo("/to-ftp", "ftp://127.0.0.1:" + std::to_string(closed.port()) + "/x.crl");
    server.redirectTo("/loop", "/loop");
    const struct {
        const char* name;
        std::string url;
        uint32_t code;
        std::string proxy = {};
    } cases[] = {
        {"404", server.url("/missing"), ZORBELCOMM_ERR_FAILED},
        {"500", server.url("/broken"), ZORBELCOMM_ERR_FAILED},
        {"204 is not a body", server.url("/no-content"), ZORBELCOMM_ERR_FAILED},
        {"connection dropped without an answer", server.url("/drop"), ZORBELCOMM_ERR_FAILED},
        {"redirect to file://", server.url("/to-file"), ZORBELCOMM_ERR_FAILED},
        {"redirect to ftp://", server.url("/to-ftp"), ZORBELCOMM_ERR_FAILED},
        {"endless redirects", server.url("/loop"), ZORBELCOMM_ERR_FAILED},
        {"ftp:// URL", "ftp://127.0.0.1:" + std::to_string(closed.port()) + "/x.crl", ZORBELCOMM_ERR_FAILED},
        {"file:// URL", "file:///etc/hostname", ZORBELCOMM_ERR_FAILED},
        {"no scheme", "127.0.0.1:" + std::to_string(server.port()) + "/target", ZORBELCOMM_ERR_FAILED},
        {"malformed URL", "http://[::1", ZORBELCOMM_ERR_FAILED},
        {"empty URL", "", ZORBELCOMM_ERR_FAILED},
        {"closed port", closedUrl() + "/x.crl", ZORBELCOMM_ERR_CONNECT},
        {"unreachable proxy", server.url("/target"), ZORBELCOMM_ERR_CONNECT, closedUrl().substr(7)},
        {"too slow for the whole transfer", server.url("/slow.crl"), ZORBELCOMM_ERR_TIMEOUT},
        {"unresolvable host (no query leaves)", "http://" + std::string(64, 'a') + ".x/", ZORBELCOMM_ERR_CONNECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Apply(c.proxy.empty() ? Settings(ZORBELU_PROXY_DIRECT) : Settings(ZORBELU_PROXY_SERVER, c.proxy));
        const auto started = std::chrono::steady_clock::now();
        const Download d = Fetch(c.url, 1u << 20, 1500);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.length, 0u);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3500));
    }
    EXPECT_EQ(server.requestCount("/target"), 0u);  // neither schemeless nor past the dead proxy
    EXPECT_LE(server.requestCount("/loop"), 11u);
    // A time limit of 0 is the default, not none.
    Apply(Settings(ZORBELU_PROXY_DIRECT));
    server.setDelay("/slow.crl", std::chrono::milliseconds(300));
    EXPECT_EQ(Fetch(server.url("/slow.crl"), 1000, 0).code, ZORBELCOMM_OK);
}

TEST_F(CommDownloadTest, RedirectsAreFollowed) {
    server.serveFile("/new.crl", "the crl");
    for (int status : {301, 302, 303, 307, 308}) {
        server.redirectTo("/old.crl", "/new.crl", status);
        EXPECT_EQ(Fetch(server.url("/old.crl")).body, "the crl") << status;  // not the redirect's own body
    }
    server.redirectTo("/absolute", server.url("/old.crl"));
    EXPECT_EQ(Fetch(server.url("/absolute")).body, "the crl");
}

TEST_F(CommDownloadTest, ServerAuthentication) {
    server.serveFile("/private.crl", "secret crl");
    server.requireBasicAuth("/private.crl", "alice", "pw");
    server.serveFile("/dom.crl", "domain crl");
    server.requireBasicAuth("/dom.crl", "CORP\\alice", "pw");
    server.serveFile("/open.crl", "open");
    const struct {
        const char* name;
        Credentials credentials;
        const char* path;
        uint32_t expected;
    } cases[] = {
        {"no credentials", std::nullopt, "/private.crl", ZORBELCOMM_ERR_SERVER_AUTH},
        {"wrong password", std::vector<std::string>{"alice", "nope"}, "/private.crl", ZORBELCOMM_ERR_SERVER_AUTH},
        {"right credentials", std::vector<std::string>{"alice", "pw", ""}, "/private.crl", ZORBELCOMM_OK},
        {"domain joins the user", std::vector<std::string>{"alice", "pw", "CORP"}, "/dom.crl", ZORBELCOMM_OK},
        {"not sent unasked", std::vector<std::string>{"alice", "pw", ""}, "/open.crl", ZORBELCOMM_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Apply(Settings(ZORBELU_PROXY_DIRECT, {}, c.credentials));
        EXPECT_EQ(Fetch(server.url(c.path)).code, c.expected);
    }
    EXPECT_EQ(server.lastRequest("/open.crl").header("Authorization"), "");
}

TEST_F(CommDownloadTest, CredentialUser) {
    char name[16];
    EXPECT_EQ(ZORBELPRVGetCredentialUser(name, sizeof name), ZORBELCOMM_ERR_NO_USER);  // direct, none given
    EXPECT_EQ(ZORBELPRVGetCredentialUser(nullptr, 16), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVGetCredentialUser(name, 0), ZORBELCOMM_ERR_PARAM);
    Apply(Settings(ZORBELU_PROXY_DIRECT, {}, std::vector<std::string>{"alice", "pw", "CORP"}));
    ASSERT_EQ(ZORBELPRVGetCredentialUser(name, 3), ZORBELCOMM_OK);
    EXPECT_STREQ(name, "al");
    Apply(Settings(ZORBELU_PROXY_SYSTEM, {}, std::vector<std::string>{"bob", "pw", ""}));  // kept with mode 1 too
    ASSERT_EQ(ZORBELPRVGetCredentialUser(name, sizeof name), ZORBELCOMM_OK);
    EXPECT_STREQ(name, "bob");
}

TEST_F(CommDownloadTest, BadArgumentsAre1001) {
    uint8_t buffer[4];
    uint32_t length = 4, noRoom = 0;
    const std::string url = server.url("/x");
    const uint8_t body[1] = {0};
    EXPECT_EQ(ZORBELPRVGetHTTPFileEx(nullptr, buffer, &length, 0, nullptr), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVGetHTTPFileEx(url.c_str(), buffer, nullptr, 0, nullptr), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVGetHTTPFileEx(url.c_str(), nullptr, &length, 0, nullptr), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVPostHTTPEx(url.c_str(), "a/b", nullptr, 1, buffer, &length, 0, nullptr), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVPostHTTPEx(url.c_str(), "a/b\r\nX-Injected: 1", body, 1, buffer, &length, 0, nullptr),
              ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVPostHTTPEx(nullptr, "a/b", body, 1, buffer, &length, 0, nullptr), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(server.requestCount("/x"), 0u);
    // No buffer and no room is a valid way to ask for the size.
    server.serveFile("/x", "12345");
    EXPECT_EQ(ZORBELPRVGetHTTPFileEx(url.c_str(), nullptr, &noRoom, 0, nullptr), ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(noRoom, 5u);
}

TEST_F(CommDownloadTest, PostDeliversBodyAndContentType) {
    server.setEchoHandler("/echo");
    const std::string request = AllBytes(3000);
    EXPECT_TRUE(Post(server.url("/echo"), "application/x-test", request).body == request);
    EXPECT_EQ(server.lastRequest("/echo").method, "POST");
    EXPECT_EQ(server.lastRequest("/echo").header("Content-Type"), "application/x-test");
    EXPECT_EQ(Post(server.url("/echo"), nullptr, "x").code, ZORBELCOMM_OK);  // no type: application/octet-stream
    EXPECT_EQ(server.lastRequest("/echo").header("Content-Type"), "application/octet-stream");
}

// ---- proxies ---------------------------------------------------------------

class CommProxyTest : public CommDownloadTest {
protected:
    void SetUp() override {
        if (!TestForwardProxy::available()) GTEST_SKIP() << "tinyproxy is not installed";
        CommDownloadTest::SetUp();
        server.serveFile("/via.crl", "through the proxy");
    }
    // tinyproxy marks what it forwards.
    bool CameThroughProxy() { return !server.lastRequest("/via.crl").header("Via").empty(); }
    uint32_t Via(const ZORBELUProxyInfo& settings) {
        Apply(settings);
        return Fetch(server.url("/via.crl")).code;
    }
    TestForwardProxy proxy;
};

TEST_F(CommProxyTest, ProxyServerWithBasicAuth) {
    proxy.start("bob", "s3cret");
    EXPECT_EQ(Via(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort())), ZORBELCOMM_ERR_PROXY_AUTH) << proxy.log();
    // tinyproxy 1.11.1 (Debian 12) rejects wrong proxy credentials with 401, not 407.
    const uint32_t wrong = Via(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort(), std::vector<std::string>{"bob", "x"}));
    EXPECT_TRUE(wrong == ZORBELCOMM_ERR_PROXY_AUTH || wrong == ZORBELCOMM_ERR_SERVER_AUTH) << wrong;
    EXPECT_EQ(server.requestCount("/via.crl"), 0u);

    Apply(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort(), std::vector<std::string>{"bob", "s3cret", ""}));
    EXPECT_EQ(Fetch(server.url("/via.crl")).body, "through the proxy") << proxy.log();
    EXPECT_TRUE(CameThroughProxy());
    // The proxy's credentials are the proxy's: the server never sees them.
    EXPECT_EQ(server.lastRequest("/via.crl").header("Authorization"), "");
    EXPECT_EQ(server.lastRequest("/via.crl").header("Proxy-Authorization"), "");
}

TEST_F(CommProxyTest, ModesAndTheEnvironment) {
    proxy.start();
    ScopedEnv httpProxy("http_proxy", proxy.url().c_str()), allProxy("all_proxy", nullptr),
        noProxy("no_proxy", nullptr), noProxyUpper("NO_PROXY", nullptr);
    EXPECT_EQ(Via(Settings(ZORBELU_PROXY_DIRECT)), ZORBELCOMM_OK);
    EXPECT_FALSE(CameThroughProxy()) << "mode 0 must ignore http_proxy";
    EXPECT_EQ(Via(Settings(ZORBELU_PROXY_SYSTEM)), ZORBELCOMM_OK);
    EXPECT_TRUE(CameThroughProxy()) << "mode 1 must use http_proxy";
    {
        ScopedEnv bypass("no_proxy", "127.0.0.1");
        EXPECT_EQ(Via(Settings(ZORBELU_PROXY_SYSTEM)), ZORBELCOMM_OK);
        EXPECT_FALSE(CameThroughProxy()) << "mode 1 must honour no_proxy";
        EXPECT_EQ(Via(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort())), ZORBELCOMM_OK);
        EXPECT_TRUE(CameThroughProxy()) << "mode 2 ignores no_proxy";
    }
    ScopedEnv deadProxy("http_proxy", closedUrl().c_str());
    EXPECT_EQ(Via(Settings(ZORBELU_PROXY_SYSTEM)), ZORBELCOMM_ERR_CONNECT);
    EXPECT_EQ(Via(Settings(ZORBELU_PROXY_DIRECT)), ZORBELCOMM_OK);
    // The server's refusal through the proxy is the server's (1205), not the proxy's.
    server.requireBasicAuth("/via.crl", "bob", "s3cret");
    EXPECT_EQ(Via(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort(), std::vector<std::string>{"bob", "s3cret", ""})),
              ZORBELCOMM_ERR_SERVER_AUTH);
}

}  // namespace
