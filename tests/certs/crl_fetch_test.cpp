// Certificates from bytes: the DER reader fed in pieces, PEM to DER, X509_STORE loading; names compared by text.
// CRL acquisition against the real test server: points, long URLs, failed downloads, cache handles, nextUpdate.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "certs/certificate_decoding.h"
#include "certs/crl_cache.h"
#include "certs/crl_distribution_points.h"
#include "certs/names.h"
#include "core/zorbel_private.h"
#include "x509/ossl_ptr.h"
#include "platform/clock.h"
#include "platform/stores/decoded_objects.h"
#include "support/fixture_x509.h"
#include "support/real_world_data.h"
#include "support/served_pki.h"
#include "x509/a_d2i_fp_kovra.h"
#include "x509/names.h"
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

// A URL too long for the engine's 1,024-byte buffer is refused there, never cut; the list keeps it whole.
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
        EXPECT_EQ(certs::FetchCRLsForList(core.store, list, cache.cache, 300, nullptr), c.expected) << c.what;
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

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
    const std::string bytes = test::ReadFileBytes(path);
    return Bytes(bytes.begin(), bytes.end());
}

const std::string kRootPem = testdata::RealWorldPath("roots/GlobalSign_Root_CA_-_R3.pem");

Bytes PemToDer(const Bytes& pem) {
    uint32_t capacity = 15000;
    Bytes der(capacity);
    EXPECT_EQ(certs::PemCertToDer(pem.data(), static_cast<uint32_t>(pem.size()), der.data(), &capacity), 1u);
    der.resize(capacity);
    return der;
}

// A BIO that hands out its bytes `piece` at a time, as a slow stream does.
struct PieceSource {
    Bytes bytes;
    size_t position = 0;
    size_t piece = 1;
};

int ReadPiece(BIO* bio, char* out, int size) {
    auto* source = static_cast<PieceSource*>(BIO_get_data(bio));
    const size_t left = source->bytes.size() - source->position;
    if (left == 0) return 0;
    const size_t n = std::min({left, source->piece, static_cast<size_t>(size)});
    std::memcpy(out, source->bytes.data() + source->position, n);
    source->position += n;
    return static_cast<int>(n);
}

BioPtr PieceBio(PieceSource& source) {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pieces");
        BIO_meth_set_read(m, ReadPiece);
        return m;
    }();
    BioPtr bio(BIO_new(method));
    BIO_set_data(bio.get(), &source);
    BIO_set_init(bio.get(), 1);
    return bio;
}

int ReadObject(const Bytes& bytes, size_t piece, Bytes* object = nullptr) {
    PieceSource source{bytes, 0, piece};
    const BioPtr bio = PieceBio(source);
    BUF_MEM* buffer = nullptr;
    const int length = x509::der_read_bio(bio.get(), &buffer);
    if (length >= 0) {
        if (object != nullptr) object->assign(buffer->data, buffer->data + length);
        BUF_MEM_free(buffer);
    }
    return length;
}

// One decoded object per process: the stores get the object libzorbel decoded.
TEST(DecodeCertificate, OneDecodedObjectPerProcess) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes der = PemToDer(ReadFile(kRootPem));
    X509* lent = nullptr;
    ASSERT_EQ(ZORBELPRVSharedCertificate(der.data(), der.size(), &lent), ZORBEL_OK);
    const X509Ptr fromCore(lent), fromStores(stores::SharedCertificate(der.data(), der.size()));
    EXPECT_EQ(fromStores.get(), fromCore.get());
}

// Detection looks at the first three bytes only; the encoding is 1 (detect),
// 2 (DER) or 3 (PEM).
TEST(DecodeCertificate, Encodings) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const uint8_t highThird[] = {'a', 'b', 0xFF};
    EXPECT_EQ(certs::DetectEncoding(highThird, sizeof highThird), ZORBELU_ENCODING_DER);
    const Bytes pem = ReadFile(kRootPem), der = PemToDer(pem);
    const struct {
        const Bytes& bytes;
        int32_t length;
        uint32_t encoding;
        bool decodes;
    } cases[] = {{pem, static_cast<int32_t>(pem.size()), 1, true}, {der, static_cast<int32_t>(der.size()), 4, false}};
    for (const auto& c : cases)
        EXPECT_EQ(X509Ptr(certs::DecodeCertificate(c.bytes.data(), c.length, c.encoding)) != nullptr, c.decodes)
            << c.length << " " << c.encoding;
}

TEST(DerReader, CollectsADerCertificateDeliveredInAnySizeOfPiece) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes der = PemToDer(ReadFile(kRootPem));
    for (const size_t piece : {1, 2, 7, 8, 9, 100, 100000}) {
        Bytes object;
        EXPECT_EQ(ReadObject(der, piece, &object), static_cast<int>(der.size())) << "pieces of " << piece;
        EXPECT_EQ(object, der);
    }
    // Bytes after the object are not part of it.
    Bytes followed = der;
    followed.insert(followed.end(), {0x30, 0x00, 0x05});
    EXPECT_EQ(ReadObject(followed, 3), static_cast<int>(der.size()));
}

// Indefinite lengths end at their end; a short stream or an unbounded length gives none.
TEST(DerReader, IndefiniteLengthsShortAndOversizedStreams) {
    Bytes announcesMore = {0x30, 0x82, 0x10, 0x00};  // 4096 bytes announced
    announcesMore.resize(100, 0x01);
    const struct {
        const char* what;
        Bytes bytes;
        int expected;
    } cases[] = {
        {"flat", {0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00, 0xAA}, 7},
        {"nested", {0x30, 0x80, 0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0xAA}, 13},
        {"definite inside", {0x30, 0x80, 0x30, 0x03, 0x02, 0x01, 0x07, 0x00, 0x00}, 9},
        {"missing end", {0x30, 0x80, 0x02, 0x01, 0x05}, -1},
        {"announces more than it holds", announcesMore, -1},
        {"length beyond any bound", {0x30, 0x88, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, -1},
        {"empty", {}, -1},
    };
    for (const auto& c : cases)
        for (const size_t piece : {1, 3, 64}) EXPECT_EQ(ReadObject(c.bytes, piece), c.expected) << c.what << " " << piece;
    ERR_clear_error();
}

TEST(PemCertToDer, CopiesOnlyIntoABufferThatFits) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes pem = ReadFile(kRootPem);
    const Bytes der = PemToDer(pem);
    Bytes out(der.size(), 0xEE);
    uint32_t capacity = static_cast<uint32_t>(der.size() - 1);
    EXPECT_EQ(certs::PemCertToDer(pem.data(), static_cast<uint32_t>(pem.size()), out.data(), &capacity), 1002u);
    EXPECT_EQ(out, Bytes(der.size(), 0xEE));
    capacity = static_cast<uint32_t>(der.size());
    EXPECT_EQ(certs::PemCertToDer(pem.data(), static_cast<uint32_t>(pem.size()), out.data(), &capacity), 1u);
    EXPECT_EQ(out, der);
    EXPECT_EQ(capacity, der.size());
    EXPECT_EQ(certs::PemCertToDer(der.data(), static_cast<uint32_t>(der.size()), out.data(), &capacity), 1005u);
}

TEST(LoadIntoX509Store, SkipsUndecodableCertificatesAndRefusesBadCrls) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes der = PemToDer(ReadFile(kRootPem));
    ZORBELCertStore* store = ZORBELCreateCertStore();
    ASSERT_NE(store, nullptr);
    Bytes junk = {'n', 'o', 't', ' ', 'a', ' ', 'c', 'e', 'r', 't'};
    ZORBELUCertBlob good{const_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size()), 2};
    ZORBELUCertBlob bad{junk.data(), static_cast<uint32_t>(junk.size()), 3};
    ASSERT_EQ(ZORBELAddCACert(store, &bad), 1u);
    ASSERT_EQ(ZORBELAddCACert(store, &good), 1u);
    X509StorePtr x509Store(X509_STORE_new());
    EXPECT_EQ(certs::LoadCACertsIntoX509Store(store, x509Store.get()), 1u);
    EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(x509Store.get())), 1);
    EXPECT_EQ(certs::LoadCRLsIntoX509Store(store, x509Store.get()), 1u);  // no CRLs: nothing to refuse
    ASSERT_EQ(ZORBELAddCRL(store, &bad), 1u);
    EXPECT_EQ(certs::LoadCRLsIntoX509Store(store, x509Store.get()), 1604u);
    ZORBELFreeCertStore(store);
}

struct Attribute {
    const char* field;
    int type;  // MBSTRING_ASC, V_ASN1_PRINTABLESTRING, ...
    const char* value;
    int set;   // -1: a new RDN; 0: joins the previous one
};

std::vector<uint8_t> NameDer(const std::vector<Attribute>& attributes) {
    X509NamePtr name(X509_NAME_new());
    for (const Attribute& a : attributes) {
        X509_NAME_ENTRY* entry = nullptr;
        entry = X509_NAME_ENTRY_create_by_txt(&entry, a.field, a.type,
                                              reinterpret_cast<const unsigned char*>(a.value), -1);
        EXPECT_NE(entry, nullptr);
        EXPECT_EQ(X509_NAME_add_entry(name.get(), entry, -1, a.set == 0 ? -1 : 0), 1);
        X509_NAME_ENTRY_free(entry);
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509_NAME(name.get(), &der);
    std::vector<uint8_t> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

std::string Text(const std::vector<Attribute>& attributes) {
    const auto der = NameDer(attributes);
    return x509::CertNameToStrSimple(der.data(), der.size()).value_or("<none>");
}

bool Equal(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    return certs::NamesEqual(a.data(), a.size(), b.data(), b.size());
}

TEST(NameText, ValuesInOrderWithoutTypes) {
    EXPECT_EQ(Text({{"C", MBSTRING_ASC, "DE", -1}, {"O", MBSTRING_ASC, "Example TSA", -1}, {"CN", MBSTRING_ASC, "TSA 1", -1}}),
              "DE, Example TSA, TSA 1");
    EXPECT_EQ(Text({{"O", MBSTRING_ASC, "Org", -1}, {"CN", MBSTRING_ASC, "A", -1}, {"serialNumber", MBSTRING_ASC, "7", 0}}),
              "Org, A + 7");
    EXPECT_EQ(Text({{"CN", MBSTRING_UTF8, "Zeitstempel München", -1}}), "Zeitstempel München");
    EXPECT_EQ(Text({}), "");
}

TEST(NameText, QuotesValuesThatWouldReadAmbiguously) {
    const struct {
        const char* value;
        const char* text;
    } cases[] = {
        {"Smith, John", "\"Smith, John\""}, {"a+b", "\"a+b\""},       {"x=y", "\"x=y\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"<tag>", "\"<tag>\""}, {"#1", "\"#1\""},
        {"a;b", "\"a;b\""},                  {" lead", "\" lead\""}, {"trail ", "\"trail \""},
        {"line\nbreak", "\"line\nbreak\""},  {"plain", "plain"},     {"in ner", "in ner"},
    };
    for (const auto& c : cases) EXPECT_EQ(Text({{"CN", MBSTRING_ASC, c.value, -1}}), c.text) << c.value;
}

TEST(NamesEqual, StringTypeDoesNotMatterValuesDo) {
    const auto printable = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_PRINTABLESTRING, "TSA", -1}});
    const auto utf8 = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_UTF8STRING, "TSA", -1}});
    const auto other = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_UTF8STRING, "TSB", -1}});
    const auto lower = NameDer({{"C", V_ASN1_PRINTABLESTRING, "DE", -1}, {"CN", V_ASN1_UTF8STRING, "tsa", -1}});
    ASSERT_NE(printable, utf8);
    EXPECT_TRUE(Equal(printable, utf8));
    EXPECT_FALSE(Equal(utf8, other));
    EXPECT_FALSE(Equal(utf8, lower));  // case counts
    // Types are not part of the text: the same value under another type reads the same.
    EXPECT_TRUE(Equal(NameDer({{"O", MBSTRING_ASC, "X", -1}}), NameDer({{"OU", MBSTRING_ASC, "X", -1}})));
}

TEST(NamesEqual, BytesThatAreNoNameEqualNothing) {
    const auto name = NameDer({{"CN", MBSTRING_ASC, "A", -1}});
    const std::vector<uint8_t> garbage = {0x30, 0x03, 0x02, 0x01, 0x05};
    EXPECT_FALSE(Equal(garbage, garbage));
    EXPECT_FALSE(certs::NamesEqual(name.data(), name.size() - 1, name.data(), name.size() - 1));
    auto trailing = name;
    trailing.push_back(0);
    EXPECT_FALSE(Equal(trailing, name));
    EXPECT_FALSE(certs::NamesEqual(nullptr, 0, name.data(), name.size()));
}

}  // namespace
