// CRL acquisition against the real test server: distribution points, long
// URLs, what failed downloads mean, the cache store's handles, nextUpdate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "certs/certificate_decoding.h"
#include "certs/crl_cache.h"
#include "certs/crl_distribution_points.h"
#include "x509/ossl_ptr.h"
#include "platform/clock.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"
#include "x509/urls.h"
#include "zorbel.h"

namespace {

using namespace zorbelu;
using fixtures::Crl;
using fixtures::Tsa;

X509* Decode(const std::string& der) {
    return certs::DecodeCertificate(reinterpret_cast<const uint8_t*>(der.data()), static_cast<int32_t>(der.size()), 2);
}

template <typename Node>
size_t Count(const Node* node) {
    return node == nullptr ? 0 : 1 + Count(node->next);
}

struct CoreStore {
    ZORBELCertStore* store = ZORBELCreateCertStore();
    ~CoreStore() { ZORBELFreeCertStore(store); }
    size_t crlCount() const { return Count(store->crls); }
};

struct CacheStore {
    ZORBELUCRLCacheStore* cache = nullptr;
    CacheStore() { EXPECT_EQ(ZORBELUCreateCRLCacheStore(&cache), ZORBELU_OK); }
    ~CacheStore() { EXPECT_EQ(ZORBELUFreeCRLCacheStore(cache), ZORBELU_OK); }
};

class CrlFetch : public ::testing::Test {
protected:
    void TearDown() override { platform::SetClockForTesting(std::nullopt); }

    uint32_t Fetch(const certs::CertList& list, CacheStore& cache, CoreStore& core, uint32_t timeoutMs = 5000) {
        return certs::FetchCRLsForList(core.store, list, cache.cache, timeoutMs, nullptr);
    }

    test::ServedPki served_;
};

// ZORBELUGetCDP takes https too; the verifications' choice of a plain-HTTP point: tests/verify.
TEST_F(CrlFetch, GetCdpGivesTheFirstHttpOrHttpsUrl) {
    const struct {
        Tsa tsa;
        uint32_t cdpResult;
        const char* urlStart;
    } cases[] = {
        {Tsa::Good, ZORBELU_OK, "http://"},
        {Tsa::LdapThenHttpCdp, ZORBELU_OK, "http://"},
        {Tsa::HttpsThenHttpCdp, ZORBELU_OK, "https://"},
        {Tsa::HttpsOnlyCdp, ZORBELU_OK, "https://"},
        {Tsa::LdapOnlyCdp, ZORBELU_ERR_NOT_FOUND, ""},
        {Tsa::NoCdp, ZORBELU_ERR_NOT_FOUND, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fixtures::FixturePki::Name(c.tsa));
        const std::string& der = served_.pki().CertDer(c.tsa);
        ZORBELUCertBlob blob{const_cast<uint8_t*>(test::Bytes(der)), static_cast<uint32_t>(der.size()), 1};
        char buffer[256];
        int32_t capacity = sizeof buffer;
        EXPECT_EQ(ZORBELUGetCDP(&blob, buffer, &capacity), c.cdpResult);
        EXPECT_TRUE(c.cdpResult != ZORBELU_OK || std::string(buffer, capacity).rfind(c.urlStart, 0) == 0);
    }
    // The verifications fetch the first plain-HTTP point, numbered from 1.
    const X509Ptr cert(Decode(served_.pki().CertDer(Tsa::HttpsThenHttpCdp)));
    char* url = nullptr;
    uint32_t pointNo = 0;
    ASSERT_EQ(certs::GetFirstCrlUrl(cert.get(), &url, &pointNo), ZORBELU_OK);
    std::free(url);
    EXPECT_EQ(pointNo, 2u);
}

TEST_F(CrlFetch, GetCdpWritesExactlyTheUrlWhenItFits) {
    const std::string& der = served_.pki().CertDer(Tsa::Good);
    ZORBELUCertBlob blob{const_cast<uint8_t*>(test::Bytes(der)), static_cast<uint32_t>(der.size()), 2};
    const std::string url = served_.pki().CrlUrl(Crl::Intermediate);
    std::string buffer(url.size() + 1, '#');
    int32_t capacity = static_cast<int32_t>(url.size()) - 1;
    EXPECT_EQ(ZORBELUGetCDP(&blob, buffer.data(), &capacity), ZORBELU_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(capacity, static_cast<int32_t>(url.size()) - 1);
    capacity = static_cast<int32_t>(url.size());
    EXPECT_EQ(ZORBELUGetCDP(&blob, buffer.data(), &capacity), ZORBELU_OK);
    EXPECT_EQ(buffer, url + "#");  // no NUL written
    capacity = 0;
    EXPECT_EQ(ZORBELUGetCDP(&blob, buffer.data(), &capacity), ZORBELU_ERR_BUFFER_TOO_SMALL);
    blob.encoding = 4;
    capacity = 100;
    EXPECT_EQ(ZORBELUGetCDP(&blob, buffer.data(), &capacity), ZORBELU_ERR_CRL_ENCODING);
    EXPECT_EQ(ZORBELUGetCDP(nullptr, buffer.data(), &capacity), ZORBELU_ERR_PARAM);
    uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    ZORBELUCertBlob bad{junk, sizeof junk, 2};
    EXPECT_EQ(ZORBELUGetCDP(&bad, buffer.data(), &capacity), ZORBELU_VS_CERT_INVALID);
}

// The CRL-buffer engine keeps its URL in a 1,024-byte buffer: a longer URL
// is refused there, never cut to another one; the list's copy is whole.
TEST(CrlUrls, ALongUrlIsTakenWholeOrRefused) {
    const fixtures::ossl::PkeyPtr key = fixtures::x509::CachedKey("long-url", fixtures::x509::KeyType::EcP256);
    const struct {
        size_t length;
        bool fitsFixedBuffer;
    } cases[] = {{1023, true}, {1024, false}, {4000, false}};
    for (const auto& c : cases) {
        const std::string prefix = "http://127.0.0.1/";
        const std::string url = prefix + std::string(c.length - prefix.size(), 'a');
        fixtures::x509::CertRequest request;
        request.commonName = "Long URL";
        request.key = key.get();
        request.crlDistributionPoints = {{url}};
        const fixtures::ossl::X509Ptr cert = fixtures::x509::MakeCertificate(request);
        char* copy = nullptr;
        uint32_t pointNo = 0;
        ASSERT_EQ(certs::GetFirstCrlUrl(cert.get(), &copy, &pointNo), ZORBELU_OK) << c.length;
        EXPECT_EQ(std::string(copy), url);
        std::free(copy);
        char fixed[1024];
        EXPECT_EQ(zorbelu::x509::CopyUrl(url, fixed, sizeof fixed), c.fitsFixedBuffer) << c.length;
        EXPECT_EQ(std::string(fixed), c.fitsFixedBuffer ? url : std::string()) << c.length;
    }
}

TEST_F(CrlFetch, FailedDownloadsMeanRevocationUnknownOrTheConnectionResult) {
    const struct {
        const char* what;
        void (*arrange)(test::TestHttpServer&, const std::string& path);
        uint32_t expected;
    } cases[] = {
        {"not found", [](test::TestHttpServer& s, const std::string& p) { s.setStatus(p, 404); },
         ZORBELU_VS_REVOCATION_UNKNOWN},
        {"not a CRL", [](test::TestHttpServer& s, const std::string& p) { s.serveFile(p, "garbage"); },
         ZORBELU_VS_REVOCATION_UNKNOWN},
        {"too slow", [](test::TestHttpServer& s, const std::string& p) { s.setDelay(p, std::chrono::seconds(3)); },
         ZORBELU_ERR_COMM_TIMEOUT},
    };
    for (const auto& c : cases) {
        test::ServedPki served;
        c.arrange(served.server(), served.crlPath(Crl::Intermediate));
        certs::CertList list;
        list.Append(Decode(served.pki().CertDer(Tsa::Good)));
        ASSERT_EQ(certs::FillCrlUrlsOfList(list), ZORBELU_OK);
        CacheStore cache;
        CoreStore core;
        EXPECT_EQ(Fetch(list, cache, core, 300), c.expected) << c.what;
        EXPECT_EQ(core.crlCount(), 0u) << c.what;
    }
}

TEST(CrlCacheStore, HandlesAreCheckedBeforeAnythingIsFreed) {
    EXPECT_EQ(ZORBELUCreateCRLCacheStore(nullptr), ZORBELU_ERR_MEMORY);
    EXPECT_EQ(ZORBELUFreeCRLCacheStore(nullptr), ZORBELU_ERR_PARAM);
    ZORBELUCRLCacheStore notAStore{11, 0, nullptr};
    EXPECT_EQ(ZORBELUFreeCRLCacheStore(&notAStore), ZORBELU_ERR_CRL_CACHE);
    EXPECT_EQ(notAStore.size, 11u);
}

TEST(NextUpdate, ReadToTheMinuteAsUtcTime) {
    X509CrlPtr crl(X509_CRL_new());
    EXPECT_TRUE(certs::IsCRLPastNextUpdate(crl.get()));  // no nextUpdate: fetch again every time
    ASN1_TIME* next = ASN1_TIME_new();
    ASSERT_EQ(ASN1_TIME_set_string(next, "491231235959Z"), 1);
    X509_CRL_set1_nextUpdate(crl.get(), next);
    ASN1_TIME_free(next);
    const int64_t minute = 2524607940;  // 2049-12-31 23:59:00 UTC
    const struct {
        int64_t now;
        bool past;
    } cases[] = {{minute - 1, false}, {minute, false}, {minute + 1, true}, {minute + 59, true}};
    for (const auto& c : cases) {
        platform::SetClockForTesting(c.now);
        EXPECT_EQ(certs::IsCRLPastNextUpdate(crl.get()), c.past) << c.now;
    }
    platform::SetClockForTesting(std::nullopt);
}

}  // namespace
