// The limit on a body, on the internal transfer with a small limit (the exports' own limit is far larger).
#include <gtest/gtest.h>

#include "comm/http_transfer.h"
#include "support/test_http_server.h"
#include "zorbelcomm.h"

namespace {

using namespace zorbelu::comm;
using zorbelu::test::TestHttpServer;

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
            EXPECT_TRUE(size > limit || result.body[size - 1] == TestHttpServer::oversizeByte(size - 1));
        }
}

}  // namespace
