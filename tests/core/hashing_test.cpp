// The hashing calls against known digests, fed in pieces.
#include <gtest/gtest.h>

#include "core/test_util.h"

namespace zorbelu::coretest {
namespace {

struct HashCase {
    uint32_t algorithm;
    const char* oid;
    const char* digestOfAbc;
};

class core_Hashing : public testing::TestWithParam<HashCase> {};

TEST_P(core_Hashing, KnownDigestInPieces) {
    ZORBELHashHandle* handle = nullptr;
    ASSERT_EQ(ZORBELHashInitEx(&handle, GetParam().algorithm), ZORBEL_OK);
    ASSERT_EQ(ZORBELHashUpdateEx(handle, "a", 1), ZORBEL_OK);
    ASSERT_EQ(ZORBELHashUpdateEx(handle, nullptr, 0), ZORBEL_OK);
    ASSERT_EQ(ZORBELHashUpdateEx(handle, "bc", 2), ZORBEL_OK);
    ZORBELUDigestInfoEx out{};
    ASSERT_EQ(ZORBELHashFinalEx(handle, &out), ZORBEL_OK);
    EXPECT_STREQ(out.algorithmOid, GetParam().oid);
    EXPECT_EQ(ToHex(out.digest, out.digestLength), GetParam().digestOfAbc);
}

INSTANTIATE_TEST_SUITE_P(
    Algorithms, core_Hashing,
    testing::Values(
        HashCase{1, "1.3.14.3.2.26", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        HashCase{2, "1.2.840.113549.2.5", "900150983cd24fb0d6963f7d28e17f72"},
        HashCase{3, "2.16.840.1.101.3.4.2.1", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        HashCase{4, "2.16.840.1.101.3.4.2.2",
                 "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        HashCase{5, "2.16.840.1.101.3.4.2.3",
                 "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
                 "454d4423643ce80e2a9ac94fa54ca49f"}));

TEST(core_Hashing, BadArguments) {
    ZORBELHashHandle* handle = nullptr;
    EXPECT_EQ(ZORBELHashInitEx(&handle, 0), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELHashInitEx(&handle, 6), ZORBEL_ERR_PARAM);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(ZORBELHashInitEx(nullptr, 1), ZORBEL_ERR_PARAM);
    ASSERT_EQ(ZORBELHashInitEx(&handle, 1), ZORBEL_OK);
    EXPECT_EQ(ZORBELHashUpdateEx(handle, nullptr, 3), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELHashFinalEx(handle, nullptr), ZORBEL_ERR_PARAM);  // frees the handle all the same
    EXPECT_EQ(ZORBELHashUpdateEx(nullptr, "x", 1), ZORBEL_ERR_PARAM);
    ASSERT_EQ(ZORBELHashInitEx(&handle, 3), ZORBEL_OK);
    EXPECT_EQ(ZORBELHashFreeEx(handle), ZORBEL_OK);
}

}  // namespace
}  // namespace zorbelu::coretest
