// The download exports of libzorbelcomm against a real HTTP server and a real
// forward proxy on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_forward_proxy.h"
#include "support/test_http_server.h"
#include "zorbelcomm.h"

namespace {

using zorbelu::test::ClosedLoopbackPort;
using zorbelu::test::TestForwardProxy;
using zorbelu::test::TestHttpServer;

struct Download {
    uint32_t code = 0;
    uint32_t length = 0;
    std::string body;
};

Download Get(const std::string& url, uint32_t capacity = 1u << 20, uint32_t timeoutMs = 5000) {
    std::vector<uint8_t> buffer(capacity);
    Download d;
    d.length = capacity;
    d.code = ZORBELPRVGetHTTPFileEx(url.c_str(), capacity ? buffer.data() : nullptr, &d.length, timeoutMs, nullptr);
    if (d.code == ZORBELCOMM_OK) d.body.assign(reinterpret_cast<const char*>(buffer.data()), d.length);
    return d;
}

Download Post(const std::string& url, const char* contentType, const std::string& body,
              uint32_t capacity = 1u << 20) {
    std::vector<uint8_t> buffer(capacity);
    Download d;
    d.length = capacity;
    d.code = ZORBELPRVPostHTTPEx(url.c_str(), contentType, reinterpret_cast<const uint8_t*>(body.data()),
                                 static_cast<uint32_t>(body.size()), capacity ? buffer.data() : nullptr, &d.length,
                                 5000, nullptr);
    if (d.code == ZORBELCOMM_OK) d.body.assign(reinterpret_cast<const char*>(buffer.data()), d.length);
    return d;
}

ZORBELUProxyInfo Settings(uint32_t proxyMode, const std::string& proxyServer = {},
                          std::optional<std::vector<std::string>> credentials = std::nullopt) {
    ZORBELUProxyInfo info{};
    info.proxyMode = proxyMode;
    std::strncpy(info.proxyServer, proxyServer.c_str(), sizeof info.proxyServer - 1);
    info.credentialMode = credentials ? ZORBELU_CREDENTIALS_GIVEN : ZORBELU_CREDENTIALS_NONE;
    if (credentials) {
        char* fields[] = {info.credential1, info.credential2, info.credential3};
        for (size_t i = 0; i < credentials->size() && i < 3; ++i)
            std::strncpy(fields[i], (*credentials)[i].c_str(), sizeof info.credential1 - 1);
    }
    return info;
}

void Apply(const ZORBELUProxyInfo& info) { ASSERT_EQ(ZORBELPRVSetProxy(&info), ZORBELCOMM_OK); }

// Sets or removes an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_.c_str(), old_->c_str(), 1);
        else unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

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
    TestHttpServer server;
};

TEST_F(CommDownloadTest, BodyArrivesByteForByte) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{300000}}) {
        SCOPED_TRACE(size);
        const std::string bytes = AllBytes(size);
        server.serveFile("/file", bytes);
        const Download exact = Get(server.url("/file"), static_cast<uint32_t>(size));  // capacity == size fits
        EXPECT_EQ(exact.code, ZORBELCOMM_OK);
        EXPECT_EQ(exact.length, size);
        EXPECT_TRUE(exact.body == bytes);
    }
}

TEST_F(CommDownloadTest, TooSmallKeepsTheBodyForTheRetry) {
    const std::string bytes = AllBytes(25000);
    server.serveFile("/big.crl", bytes);
    // The caller's way: the same capacity again, then larger ones.
    for (uint32_t capacity : {10000u, 10000u, 20000u}) {
        const Download d = Get(server.url("/big.crl"), capacity);
        EXPECT_EQ(d.code, ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
        EXPECT_EQ(d.length, 25000u);
    }
    const Download fits = Get(server.url("/big.crl"), 30000);
    EXPECT_EQ(fits.code, ZORBELCOMM_OK);
    EXPECT_TRUE(fits.body == bytes);
    EXPECT_EQ(server.requestCount("/big.crl"), 1u);
    // Once delivered, the kept body is gone: the next call downloads again.
    EXPECT_EQ(Get(server.url("/big.crl"), 30000).code, ZORBELCOMM_OK);
    EXPECT_EQ(server.requestCount("/big.crl"), 2u);
}

TEST_F(CommDownloadTest, KeptBodyServesOnlyItsOwnRequest) {
    server.setHandler("/a", [](const zorbelu::test::RecordedRequest& req) {
        return zorbelu::test::HandlerReply{200, req.method == "GET" ? std::string(5000, 'a') : "posted", "text/plain"};
    });
    server.serveFile("/b", "b");
    server.setEchoHandler("/echo");
    EXPECT_EQ(Get(server.url("/a"), 100).code, ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Get(server.url("/b"), 100).code, ZORBELCOMM_OK);  // another request in between
    EXPECT_EQ(Post(server.url("/a"), "text/plain", "x").body, "posted");  // a POST is another request
    EXPECT_EQ(server.requestCount("/a"), 2u);
    EXPECT_EQ(Post(server.url("/echo"), "text/plain", std::string(200, '1'), 100).code,
              ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    const Download otherBody = Post(server.url("/echo"), "text/plain", std::string(200, '2'));
    EXPECT_EQ(otherBody.body, std::string(200, '2'));
    const Download retry = Post(server.url("/echo"), "text/plain", std::string(200, '1'));
    EXPECT_EQ(retry.body, std::string(200, '1'));
    EXPECT_EQ(server.requestCount("/echo"), 2u);
    const Download a = Get(server.url("/a"), 6000);
    EXPECT_EQ(a.code, ZORBELCOMM_OK);
    EXPECT_EQ(a.length, 5000u);
    EXPECT_EQ(server.requestCount("/a"), 2u);  // from the kept body
}

TEST_F(CommDownloadTest, ConcurrentRetriesEachGetTheirOwnBody) {
    constexpr int kThreads = 4;
    for (int i = 0; i < kThreads; ++i)
        server.serveFile("/t" + std::to_string(i), std::string(20000 + i, char('a' + i)));
    std::vector<std::thread> threads;
    std::vector<Download> results(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const std::string url = server.url("/t" + std::to_string(i));
            if (Get(url, 10000).code == ZORBELCOMM_ERR_BUFFER_TOO_SMALL) results[i] = Get(url, 30000);
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].code, ZORBELCOMM_OK);
        EXPECT_EQ(results[i].body, std::string(20000 + i, char('a' + i)));
        EXPECT_EQ(server.requestCount("/t" + std::to_string(i)), 1u);
    }
}

TEST_F(CommDownloadTest, NewSettingsDropKeptBodies) {
    server.serveFile("/a", std::string(500, 'a'));
    EXPECT_EQ(Get(server.url("/a"), 100).code, ZORBELCOMM_ERR_BUFFER_TOO_SMALL);
    Apply(Settings(ZORBELU_PROXY_DIRECT));
    EXPECT_EQ(Get(server.url("/a"), 1000).code, ZORBELCOMM_OK);
    EXPECT_EQ(server.requestCount("/a"), 2u);
}

TEST_F(CommDownloadTest, FailuresAre1201) {
    ClosedLoopbackPort closed;
    server.serveFile("/target", "target");
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
    } cases[] = {
        {"404", server.url("/missing")},
        {"500", server.url("/broken")},
        {"204 is not a body", server.url("/no-content")},
        {"connection dropped without an answer", server.url("/drop")},
        {"redirect to file://", server.url("/to-file")},
        {"redirect to ftp://", server.url("/to-ftp")},
        {"endless redirects", server.url("/loop")},
        {"ftp:// URL", "ftp://127.0.0.1:" + std::to_string(closed.port()) + "/x.crl"},
        {"file:// URL", "file:///etc/hostname"},
        {"no scheme", "127.0.0.1:" + std::to_string(server.port()) + "/target"},
        {"malformed URL", "http://[::1"},
        {"empty URL", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Download d = Get(c.url);
        EXPECT_EQ(d.code, ZORBELCOMM_ERR_FAILED);
        EXPECT_EQ(d.length, 0u);
    }
    EXPECT_EQ(server.requestCount("/target"), 0u);  // the schemeless URL was not fetched over http
    EXPECT_LE(server.requestCount("/loop"), 11u);
}

TEST_F(CommDownloadTest, RedirectsAreFollowed) {
    server.serveFile("/new.crl", "the crl");
    for (int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        server.redirectTo("/old.crl", "/new.crl", status);
        const Download d = Get(server.url("/old.crl"));
        EXPECT_EQ(d.code, ZORBELCOMM_OK);
        EXPECT_EQ(d.body, "the crl");  // the redirect's own body is not part of it
    }
    server.redirectTo("/absolute", server.url("/old.crl"));
    EXPECT_EQ(Get(server.url("/absolute")).body, "the crl");
}

TEST_F(CommDownloadTest, ClosedPortIs1202) {
    ClosedLoopbackPort closed;
    const Download d = Get("http://127.0.0.1:" + std::to_string(closed.port()) + "/x.crl");
    EXPECT_EQ(d.code, ZORBELCOMM_ERR_CONNECT);
    // An unreachable proxy is the same failure.
    Apply(Settings(ZORBELU_PROXY_SERVER, "127.0.0.1:" + std::to_string(closed.port())));
    server.serveFile("/x.crl", "x");
    EXPECT_EQ(Get(server.url("/x.crl")).code, ZORBELCOMM_ERR_CONNECT);
    EXPECT_EQ(server.requestCount("/x.crl"), 0u);
}

TEST_F(CommDownloadTest, TimeLimitIs1203AndHoldsForTheWholeTransfer) {
    server.serveFile("/slow.crl", "late");
    server.setDelay("/slow.crl", std::chrono::milliseconds(2000));
    const auto started = std::chrono::steady_clock::now();
    const Download d = Get(server.url("/slow.crl"), 1000, 300);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(d.code, ZORBELCOMM_ERR_TIMEOUT);
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
}

TEST_F(CommDownloadTest, ZeroTimeLimitMeansTheDefault) {
    server.serveFile("/slow.crl", "late");
    server.setDelay("/slow.crl", std::chrono::milliseconds(300));
    EXPECT_EQ(Get(server.url("/slow.crl"), 1000, 0).code, ZORBELCOMM_OK);
}

TEST_F(CommDownloadTest, ServerAuthentication) {
    server.serveFile("/private.crl", "secret crl");
    server.requireBasicAuth("/private.crl", "alice", "pw");
    server.serveFile("/dom.crl", "domain crl");
    server.requireBasicAuth("/dom.crl", "CORP\\alice", "pw");
    const struct {
        const char* name;
        std::optional<std::vector<std::string>> credentials;
        const char* path;
        uint32_t expected;
    } cases[] = {
        {"no credentials", std::nullopt, "/private.crl", ZORBELCOMM_ERR_SERVER_AUTH},
        {"wrong password", std::vector<std::string>{"alice", "nope"}, "/private.crl", ZORBELCOMM_ERR_SERVER_AUTH},
        {"right credentials", std::vector<std::string>{"alice", "pw", ""}, "/private.crl", ZORBELCOMM_OK},
        {"domain joins the user", std::vector<std::string>{"alice", "pw", "CORP"}, "/dom.crl", ZORBELCOMM_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Apply(Settings(ZORBELU_PROXY_DIRECT, {}, c.credentials));
        EXPECT_EQ(Get(server.url(c.path)).code, c.expected);
    }
}

TEST_F(CommDownloadTest, CredentialsAreNotSentUnasked) {
    Apply(Settings(ZORBELU_PROXY_DIRECT, {}, std::vector<std::string>{"alice", "pw", ""}));
    server.serveFile("/open.crl", "open");
    EXPECT_EQ(Get(server.url("/open.crl")).code, ZORBELCOMM_OK);
    EXPECT_EQ(server.lastRequest("/open.crl").header("Authorization"), "");
}

TEST_F(CommDownloadTest, CredentialUser) {
    char name[16];
    EXPECT_EQ(ZORBELPRVGetCredentialUser(name, sizeof name), ZORBELCOMM_ERR_NO_USER);  // direct, none given
    EXPECT_EQ(ZORBELPRVGetCredentialUser(nullptr, 16), ZORBELCOMM_ERR_PARAM);
    EXPECT_EQ(ZORBELPRVGetCredentialUser(name, 0), ZORBELCOMM_ERR_PARAM);

    Apply(Settings(ZORBELU_PROXY_DIRECT, {}, std::vector<std::string>{"alice", "pw", "CORP"}));
    ASSERT_EQ(ZORBELPRVGetCredentialUser(name, sizeof name), ZORBELCOMM_OK);
    EXPECT_STREQ(name, "alice");
    ASSERT_EQ(ZORBELPRVGetCredentialUser(name, 3), ZORBELCOMM_OK);
    EXPECT_STREQ(name, "al");

    // The system's proxy settings keep the credentials too.
    Apply(Settings(ZORBELU_PROXY_SYSTEM, {}, std::vector<std::string>{"bob", "pw", ""}));
    ASSERT_EQ(ZORBELPRVGetCredentialUser(name, sizeof name), ZORBELCOMM_OK);
    EXPECT_STREQ(name, "bob");
}

TEST_F(CommDownloadTest, BadArgumentsAre1001) {
    uint8_t buffer[4];
    uint32_t length = 4;
    uint32_t noRoom = 0;
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
    const Download echoed = Post(server.url("/echo"), "application/x-test", request);
    EXPECT_EQ(echoed.code, ZORBELCOMM_OK);
    EXPECT_TRUE(echoed.body == request);
    const auto seen = server.lastRequest("/echo");
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.header("Content-Type"), "application/x-test");

    std::string received;
    server.setTsaHandler("/tsa", [&](const std::string& der) {
        received = der;
        return std::string("\x30\x03\x02\x01\x00", 5);
    });
    const std::string query("\x30\x05\x02\x01\x01\x00\xff", 7);
    const Download reply = Post(server.url("/tsa"), "application/timestamp-query", query);
    EXPECT_EQ(reply.code, ZORBELCOMM_OK);
    EXPECT_EQ(reply.body, std::string("\x30\x03\x02\x01\x00", 5));
    EXPECT_EQ(received, query);
    // A wrong content type is refused by the endpoint, which is an HTTP failure.
    EXPECT_EQ(Post(server.url("/tsa"), "text/plain", query).code, ZORBELCOMM_ERR_FAILED);
    // No content type given: sent as application/octet-stream.
    EXPECT_EQ(Post(server.url("/echo"), nullptr, "x").code, ZORBELCOMM_OK);
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
    TestForwardProxy proxy;
};

TEST_F(CommProxyTest, ProxyServerWithBasicAuth) {
    proxy.start("bob", "s3cret");
    Apply(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort()));
    EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_ERR_PROXY_AUTH) << proxy.log();

    // tinyproxy 1.11.1 (Debian 12) rejects wrong proxy credentials with 401, not 407.
    Apply(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort(), std::vector<std::string>{"bob", "wrong", ""}));
    const uint32_t wrong = Get(server.url("/via.crl")).code;
    EXPECT_TRUE(wrong == ZORBELCOMM_ERR_PROXY_AUTH || wrong == ZORBELCOMM_ERR_SERVER_AUTH) << wrong;
    EXPECT_EQ(server.requestCount("/via.crl"), 0u);

    Apply(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort(), std::vector<std::string>{"bob", "s3cret", ""}));
    const Download d = Get(server.url("/via.crl"));
    EXPECT_EQ(d.code, ZORBELCOMM_OK) << proxy.log();
    EXPECT_EQ(d.body, "through the proxy");
    EXPECT_TRUE(CameThroughProxy());
    // The proxy's credentials are the proxy's: the server never sees them.
    EXPECT_EQ(server.lastRequest("/via.crl").header("Authorization"), "");
    EXPECT_EQ(server.lastRequest("/via.crl").header("Proxy-Authorization"), "");
}

TEST_F(CommProxyTest, ServerAuthenticationThroughProxyIs1205) {
    proxy.start();
    server.requireBasicAuth("/via.crl", "bob", "s3cret");
    Apply(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort(), std::vector<std::string>{"bob", "s3cret", ""}));
    EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_ERR_SERVER_AUTH);
}

TEST_F(CommProxyTest, ModesAndTheEnvironment) {
    proxy.start();
    ScopedEnv httpProxy("http_proxy", proxy.url().c_str());
    ScopedEnv allProxy("all_proxy", nullptr);
    ScopedEnv noProxy("no_proxy", nullptr);
    ScopedEnv noProxyUpper("NO_PROXY", nullptr);

    Apply(Settings(ZORBELU_PROXY_DIRECT));
    EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_OK);
    EXPECT_FALSE(CameThroughProxy()) << "mode 0 must ignore http_proxy";

    Apply(Settings(ZORBELU_PROXY_SYSTEM));
    EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_OK);
    EXPECT_TRUE(CameThroughProxy()) << "mode 1 must use http_proxy";
    {
        ScopedEnv bypass("no_proxy", "127.0.0.1");
        EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_OK);
        EXPECT_FALSE(CameThroughProxy()) << "mode 1 must honour no_proxy";

        Apply(Settings(ZORBELU_PROXY_SERVER, proxy.hostPort()));
        EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_OK);
        EXPECT_TRUE(CameThroughProxy()) << "mode 2 ignores no_proxy";
    }
    // Mode 1 with an unreachable proxy in the environment fails to connect.
    ClosedLoopbackPort closed;
    ScopedEnv deadProxy("http_proxy", ("http://127.0.0.1:" + std::to_string(closed.port())).c_str());
    Apply(Settings(ZORBELU_PROXY_SYSTEM));
    EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_ERR_CONNECT);
    Apply(Settings(ZORBELU_PROXY_DIRECT));
    EXPECT_EQ(Get(server.url("/via.crl")).code, ZORBELCOMM_OK);
}

}  // namespace
