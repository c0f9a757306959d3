// Garbage, truncated, deeply nested and huge-length input: every call gives a code, never a crash or overread.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/test_util.h"

namespace zorbelu::coretest {
namespace {

// The reading and verifying calls, each on the same bytes.
std::vector<uint32_t> AllCalls(const Bytes& bytes) {
    // A copy of exactly the given size, so that a sanitizer sees any overrun.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const ZORBELUBlob blob{exact.get(), static_cast<uint32_t>(bytes.size())};
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    Bytes buffer(8192);
    ZORBELUCertBlob cert{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    ZORBELUCertBlob tac{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    const ZORBELUDigestInfoEx digest = DigestEx("2.16.840.1.101.3.4.2.1", Bytes(32, 0));
    ZORBELTACCertInfo tacInfo{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
    return {ZORBELGetTimeStampInfoEx(&blob, &info),
            ZORBELGetTSACert(&blob, &cert),
            ZORBELGetTAC(&blob, &tac),
            ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr),
            ZORBELGetTACCertInfo(&blob, &tacInfo),
            ZORBELGetTACTimingMetrics(&blob, &metrics),
            ZORBELGetTACTimingPolicy(&blob, &policy)};
}

const std::vector<uint32_t> kUnreadable = {2001, 2001, 2001, 2001, 1802, 1802, 1802};

Bytes Repeat(const Bytes& unit, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

TEST(core_MalformedInput, GarbageGivesACode) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"huge length", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xF0, 0x06, 0x01, 0x00}},
        {"length beyond the bytes", {0x30, 0x05, 0x06, 0x01, 0x00}},
        {"indefinite never closed", {0x30, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01}},
        {"indefinite primitive", {0x04, 0x80, 0x00, 0x00}},
        {"stray end of contents", {0x30, 0x04, 0x00, 0x00, 0x00, 0x00}},
        {"deep nesting", Repeat({0x30, 0x80}, 5000)},
        {"high tag number", {0x1F, 0x81, 0x00, 0x00}},
        {"bit string pieces with unused bits inside", {0x23, 0x08, 0x03, 0x02, 0x01, 0xFE, 0x03, 0x02, 0x00, 0xFF}},
    };
    for (const auto& c : cases) EXPECT_EQ(AllCalls(c.bytes), kUnreadable) << c.name;
}

TEST(core_MalformedInput, EmptyAndNullAreBadArguments) {
    const ZORBELUBlob empty{reinterpret_cast<const uint8_t*>("x"), 0};
    const ZORBELUBlob null{nullptr, 10};
    for (const ZORBELUBlob* blob : {&empty, &null, static_cast<const ZORBELUBlob*>(nullptr)}) {
        ZORBELTimeStampInfo info{};
        info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
        EXPECT_EQ(ZORBELGetTimeStampInfoEx(blob, &info), ZORBEL_ERR_PARAM);
        const ZORBELUDigestInfoEx digest = DigestEx("1.3.14.3.2.26", Bytes(20, 0));
        EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(blob, &digest, nullptr, nullptr), ZORBEL_ERR_PARAM);
    }
}

TEST(core_MalformedInput, BadDigestRecords) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes token = RealWorldFile("bc-java/tsp/v2SigningCertResponse.tsr");
    const ZORBELUBlob blob = Blob(token);
    ZORBELUDigestInfoEx digest = DigestEx("2.16.840.1.101.3.4.2.1", Bytes(32, 0));
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, nullptr, nullptr, nullptr), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, &digest, nullptr), ZORBEL_ERR_PARAM);
    digest.digestLength = 129;
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), ZORBEL_ERR_PARAM);
    digest.digestLength = 32;
    std::memset(digest.algorithmOid, '1', sizeof digest.algorithmOid);  // no NUL
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), ZORBEL_ERR_PARAM);
    ZORBELUDigestInfo plain{};
    std::strcpy(plain.algorithmOid, "1.3.14.3.2.26");
    plain.digestLength = 41;
    EXPECT_EQ(ZORBELVerifyTimeStampToken(&blob, &plain, nullptr, nullptr), ZORBEL_ERR_PARAM);
    ZORBELCertStore fake{};
    fake.size = 12;
    plain.digestLength = 20;
    EXPECT_EQ(ZORBELVerifyTimeStampToken(&blob, &plain, nullptr, &fake), ZORBEL_ERR_PARAM);
}

// Every prefix of real tokens, DER and BER: never OK, never a crash.
TEST(core_MalformedInput, EveryPrefixOfATokenGivesACode) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    for (const char* file : {"bc-test-data/tsp/2Chains3ATS/BIN_ER.ers.0.0.tsr", "bc-java/tsp/generalizedTime.tsr",
                             "trailofbits-rfc3161-client/test_tsa/response-injected-certs.tsr"}) {
        const Bytes token = RealWorldFile(file);
        for (size_t size = 1; size < token.size(); size += (size < 64 ? 1 : 7)) {
            const std::vector<uint32_t> results = AllCalls(Bytes(token.begin(), token.begin() + static_cast<long>(size)));
            EXPECT_EQ(results[0], ZORBEL_VERIFY_STRUCTURE) << file << " " << size;
            EXPECT_NE(results[3], ZORBEL_OK) << file << " " << size;
        }
    }
}

// Bytes after a token are ignored, as OpenSSL's readers ignore them.
TEST(core_MalformedInput, TrailingBytesAreIgnored) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    Bytes token = RealWorldFile("bc-java/tsp/sha1Response.tsr");
    token.insert(token.end(), {0x00, 0x00, 0xDE, 0xAD});
    uint32_t rc = 0;
    InfoOf(token, &rc);
    EXPECT_EQ(rc, ZORBEL_OK);
}

}  // namespace
}  // namespace zorbelu::coretest
