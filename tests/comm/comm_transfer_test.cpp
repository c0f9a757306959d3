// Internal routines of the communication library: what a finished transfer
// means, the limit on a body, libcurl loaded on demand, and the store of kept
// bodies.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "comm/body_cache.h"
#include "comm/http_transfer.h"
#include "support/test_http_server.h"
#include "zorbelcomm.h"

namespace {

using namespace zorbelu::comm;
using zorbelu::test::TestHttpServer;

TEST(CommTransferTest, OutcomeMapping) {
    const struct {
        CURLcode result;
        long status;
        long connectStatus;
        bool tooLarge;
        uint32_t expected;
    } cases[] = {
        {CURLE_OK, 200, 0, false, ZORBELCOMM_OK},
        {CURLE_OK, 206, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_OK, 404, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_OK, 401, 0, false, ZORBELCOMM_ERR_SERVER_AUTH},
        {CURLE_OK, 407, 0, false, ZORBELCOMM_ERR_PROXY_AUTH},
        {CURLE_RECV_ERROR, 0, 407, false, ZORBELCOMM_ERR_PROXY_AUTH},  // CONNECT refused by the proxy
        {CURLE_OPERATION_TIMEDOUT, 200, 0, false, ZORBELCOMM_ERR_TIMEOUT},  // body cut by the limit
        {CURLE_OPERATION_TIMEDOUT, 0, 0, false, ZORBELCOMM_ERR_TIMEOUT},
        {CURLE_COULDNT_CONNECT, 0, 0, false, ZORBELCOMM_ERR_CONNECT},
        {CURLE_COULDNT_RESOLVE_HOST, 0, 0, false, ZORBELCOMM_ERR_CONNECT},
        {CURLE_COULDNT_RESOLVE_PROXY, 0, 0, false, ZORBELCOMM_ERR_CONNECT},
        {CURLE_WRITE_ERROR, 200, 0, true, ZORBELCOMM_ERR_FAILED},
        {CURLE_FILESIZE_EXCEEDED, 200, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_UNSUPPORTED_PROTOCOL, 302, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_GOT_NOTHING, 0, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_PEER_FAILED_VERIFICATION, 0, 0, false, ZORBELCOMM_ERR_FAILED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "curl " << c.result << " status " << c.status);
        EXPECT_EQ(MapTransferOutcome(c.result, c.status, c.connectStatus, c.tooLarge), c.expected);
    }
}

TEST(CommTransferTest, BodyLimit) {
    TestHttpServer server;
    server.start();
    const size_t limit = 100000;
    const struct {
        size_t size;
        bool chunked;
        uint32_t expected;
    } cases[] = {
        {limit, false, ZORBELCOMM_OK},
        {limit, true, ZORBELCOMM_OK},
        {limit + 1, false, ZORBELCOMM_ERR_FAILED},  // refused from its Content-Length
        {limit + 1, true, ZORBELCOMM_ERR_FAILED},   // refused as the bytes arrive
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << (c.chunked ? " chunked" : ""));
        server.setOversize("/big", c.size, c.chunked);
        TransferRequest request;
        request.url = server.url("/big");
        request.maxBodyBytes = limit;
        const TransferResult result = PerformTransfer(request, ConnectionSettings{});
        EXPECT_EQ(result.code, c.expected);
        if (c.expected == ZORBELCOMM_OK) {
            ASSERT_EQ(result.body.size(), c.size);
            EXPECT_EQ(result.body[c.size - 1], TestHttpServer::oversizeByte(c.size - 1));
        } else {
            EXPECT_TRUE(result.body.empty());
        }
    }
}

// libcurl is opened on the first download. One that cannot be opened, or
// lacks a function the transfer calls, fails every transfer as a failed
// transfer, and the reason names the library.
TEST(CommTransferTest, UnusableLibcurlIs1201) {
    TestHttpServer server;
    server.start();
    server.serveFile("/file", "body");
    TransferRequest request;
    request.url = server.url("/file");
    ASSERT_EQ(PerformTransfer(request, ConnectionSettings{}).code, ZORBELCOMM_OK);
    const struct {
        const char* soname;
        const char* reason;
    } cases[] = {
        {"libzorbelu-no-such-curl.so.4", "cannot load libzorbelu-no-such-curl.so.4"},
        {"libz.so.1", "libz.so.1 lacks a function"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.soname);
        const CurlLibrary unusable = LoadCurlLibrary(c.soname);
        EXPECT_FALSE(unusable.loaded);
        EXPECT_NE(unusable.error.find(c.reason), std::string::npos) << unusable.error;
        EXPECT_EQ(PerformTransfer(request, ConnectionSettings{}, unusable).code, ZORBELCOMM_ERR_FAILED);
    }
}

// ---- kept bodies (which request a body serves: comm_download_test) ------

RequestKey Key(const std::string& url, const std::string& method = "GET", const std::string& body = {}) {
    return RequestKey{method, url, method == "POST" ? "application/x" : "", body};
}

BodyCache::Body Bytes(size_t n, char c = 'x') { return std::make_shared<const std::string>(n, c); }

TEST(CommBodyCacheTest, StaysWithinItsBounds) {
    BodyCache cache;
    for (size_t i = 0; i <= BodyCache::kMaxEntries; ++i) cache.Keep(Key("u" + std::to_string(i)), Bytes(1));
    EXPECT_EQ(cache.Size(), BodyCache::kMaxEntries);
    EXPECT_EQ(cache.Find(Key("u0")), nullptr) << "the oldest goes first";
    EXPECT_NE(cache.Find(Key("u" + std::to_string(BodyCache::kMaxEntries))), nullptr);

    const size_t half = BodyCache::kMaxTotalBytes / 2;
    cache.Clear();
    cache.Keep(Key("a"), Bytes(half));
    cache.Keep(Key("b"), Bytes(half));
    cache.Keep(Key("c"), Bytes(1));  // no room for it beside both halves
    EXPECT_EQ(cache.Find(Key("a")), nullptr);
    EXPECT_NE(cache.Find(Key("b")), nullptr);
    EXPECT_NE(cache.Find(Key("c")), nullptr);

    cache.Keep(Key("huge"), Bytes(BodyCache::kMaxTotalBytes + 1));
    EXPECT_EQ(cache.Find(Key("huge")), nullptr);
}

TEST(CommBodyCacheTest, ForgetsOldBodies) {
    BodyCache cache;
    const auto t0 = BodyCache::Clock::now();
    cache.Keep(Key("old"), Bytes(1), t0);
    cache.Keep(Key("new"), Bytes(1), t0 + BodyCache::kMaxAge / 2);
    EXPECT_NE(cache.Find(Key("old"), t0 + BodyCache::kMaxAge - std::chrono::seconds(1)), nullptr);
    EXPECT_EQ(cache.Find(Key("old"), t0 + BodyCache::kMaxAge), nullptr);
    EXPECT_NE(cache.Find(Key("new"), t0 + BodyCache::kMaxAge), nullptr);
}

}  // namespace

// ---- the test server's own promises that the tests above rely on --------

namespace {

// Sends a bare HTTP request and returns every byte of the answer up to EOF.
std::string RawExchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        char chunk[4096];
        ssize_t n;
        while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) answer.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

TEST(TestHttpServerTest, DropAnswersNothingAndCountsStayPerPath) {
    TestHttpServer server;
    server.start();
    server.setCloseConnection("/drop");
    server.serveFile("/file", "abc");
    const std::string get = "GET /drop HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(RawExchange(server.port(), get), "");
    const std::string answer =
        RawExchange(server.port(), "GET /file?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_EQ(answer.substr(answer.size() - 3), "abc");
    EXPECT_EQ(server.requestCount("/drop"), 1u);
    EXPECT_EQ(server.requestCount("/file"), 1u);
    server.resetCounts();
    EXPECT_EQ(server.requestCount("/file"), 0u);
}

}  // namespace
