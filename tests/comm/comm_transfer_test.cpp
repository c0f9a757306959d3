// Internal routines of the communication library: what a finished transfer
// means, the limit on a body, libcurl loaded on demand, and the bounds of the
// store of kept bodies.
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
        long status, connectStatus;
        bool tooLarge;
        uint32_t expected;
    } cases[] = {
        {CURLE_OK, 200, 0, false, ZORBELCOMM_OK},
        {CURLE_OK, 206, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_OK, 404, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_OK, 401, 0, false, ZORBELCOMM_ERR_SERVER_AUTH},
        {CURLE_OK, 407, 0, false, ZORBELCOMM_ERR_PROXY_AUTH},
        {CURLE_RECV_ERROR, 0, 407, false, ZORBELCOMM_ERR_PROXY_AUTH},       // CONNECT refused by the proxy
        {CURLE_OPERATION_TIMEDOUT, 200, 0, false, ZORBELCOMM_ERR_TIMEOUT},  // body cut by the limit
        {CURLE_COULDNT_CONNECT, 0, 0, false, ZORBELCOMM_ERR_CONNECT},
        {CURLE_COULDNT_RESOLVE_HOST, 0, 0, false, ZORBELCOMM_ERR_CONNECT},
        {CURLE_COULDNT_RESOLVE_PROXY, 0, 0, false, ZORBELCOMM_ERR_CONNECT},
        {CURLE_WRITE_ERROR, 200, 0, true, ZORBELCOMM_ERR_FAILED},
        {CURLE_FILESIZE_EXCEEDED, 200, 0, false, ZORBELCOMM_ERR_FAILED},
        {CURLE_PEER_FAILED_VERIFICATION, 0, 0, false, ZORBELCOMM_ERR_FAILED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MapTransferOutcome(c.result, c.status, c.connectStatus, c.tooLarge), c.expected)
            << "curl " << c.result << " status " << c.status;
}

// Refused from its Content-Length, or chunked as the bytes arrive.
TEST(CommTransferTest, BodyLimit) {
    TestHttpServer server;
    server.start();
    const size_t limit = 100000;
    for (const size_t size : {limit, limit + 1})
        for (const bool chunked : {false, true}) {
            SCOPED_TRACE(testing::Message() << size << (chunked ? " chunked" : ""));
            server.setOversize("/big", size, chunked);
            TransferRequest request;
            request.url = server.url("/big");
            request.maxBodyBytes = limit;
            const TransferResult result = PerformTransfer(request, ConnectionSettings{});
            EXPECT_EQ(result.code, size == limit ? ZORBELCOMM_OK : ZORBELCOMM_ERR_FAILED);
            EXPECT_EQ(result.body.size(), size == limit ? size : 0);
            if (size == limit) {
                EXPECT_EQ(result.body[size - 1], TestHttpServer::oversizeByte(size - 1));
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

RequestKey Key(const std::string& url) { return RequestKey{"GET", url, "", {}}; }
BodyCache::Body Bytes(size_t n) { return std::make_shared<const std::string>(n, 'x'); }

// Which request a kept body serves: comm_download_test. Here: how many, how large, how old.
TEST(CommBodyCacheTest, StaysWithinItsBounds) {
    BodyCache cache;
    for (size_t i = 0; i <= BodyCache::kMaxEntries; ++i) cache.Keep(Key("u" + std::to_string(i)), Bytes(1));
    EXPECT_EQ(cache.Size(), BodyCache::kMaxEntries);
    EXPECT_EQ(cache.Find(Key("u0")), nullptr) << "the oldest goes first";
    EXPECT_NE(cache.Find(Key("u" + std::to_string(BodyCache::kMaxEntries))), nullptr);

    cache.Clear();
    cache.Keep(Key("a"), Bytes(BodyCache::kMaxTotalBytes / 2));
    cache.Keep(Key("b"), Bytes(BodyCache::kMaxTotalBytes / 2));
    cache.Keep(Key("c"), Bytes(1));  // no room for it beside both halves
    EXPECT_EQ(cache.Find(Key("a")), nullptr);
    EXPECT_NE(cache.Find(Key("b")), nullptr);
    EXPECT_NE(cache.Find(Key("c")), nullptr);
    cache.Keep(Key("huge"), Bytes(BodyCache::kMaxTotalBytes + 1));
    EXPECT_EQ(cache.Find(Key("huge")), nullptr);

    const auto t0 = BodyCache::Clock::now();
    cache.Keep(Key("old"), Bytes(1), t0);
    cache.Keep(Key("new"), Bytes(1), t0 + BodyCache::kMaxAge / 2);
    EXPECT_NE(cache.Find(Key("old"), t0 + BodyCache::kMaxAge - std::chrono::seconds(1)), nullptr);
    EXPECT_EQ(cache.Find(Key("old"), t0 + BodyCache::kMaxAge), nullptr);
    EXPECT_NE(cache.Find(Key("new"), t0 + BodyCache::kMaxAge), nullptr);
}

}  // namespace
