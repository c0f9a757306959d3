// What a CRL's size costs a verification through the core store
// (ZORBELVerifyTimeStampToken of tsa-good's token, the intermediate CA as the
// anchor, one CRL of the intermediate with 0, 1k, 20k or 200k entries, none
// of them the TSA's), measured side by side in one process:
//
//   BM_Warm/N          the same store and CRL every call
//   BM_Cold/N          a CRL never seen before every call (re-signed with
//                      another thisUpdate): the store made, the CRL added,
//                      the verification
//   BM_OpenSslDecode/N d2i_X509_CRL of the same bytes, freed
//   BM_Held/N          no time: the heap bytes a first check leaves behind
//                      (the caches' hold on the CRL) per DER byte, counted
//                      over operator new and OpenSSL's allocator
//
// Only public calls of libzorbel are used, so that the same file measures
// an older library.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/fixture_pki.h"
#include "support/fixture_x509.h"
#include "zorbel.h"

// Live heap bytes of the whole process, for BM_Held. operator new and delete
// are malloc and free here, which GCC cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<int64_t> g_liveBytes{0};

void* Counted(void* p) {
    if (p != nullptr) g_liveBytes += static_cast<int64_t>(malloc_usable_size(p));
    return p;
}
void Uncount(void* p) {
    if (p != nullptr) g_liveBytes -= static_cast<int64_t>(malloc_usable_size(p));
}
void* CryptoMalloc(size_t n, const char*, int) { return Counted(std::malloc(n)); }
void* CryptoRealloc(void* p, size_t n, const char*, int) {
    Uncount(p);
    void* q = std::realloc(p, n);
    if (q == nullptr && n != 0) Counted(p);  // the old block stays
    return Counted(q);
}
void CryptoFree(void* p, const char*, int) {
    Uncount(p);
    std::free(p);
}
}  // namespace

void* operator new(size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return Counted(p);
}
void operator delete(void* p) noexcept {
    Uncount(p);
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    Uncount(p);
    std::free(p);
}

namespace {

using zorbelu::fixtures::Ca;
using zorbelu::fixtures::Digest;
using zorbelu::fixtures::FixturePki;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A CA's CRL, DER, split where a new thisUpdate and signature go.
struct CrlTemplate {
    std::string der;
    std::string tbs;         // the signed part
    size_t thisUpdateAt;     // offset of thisUpdate's seconds digits in tbs
    std::string algorithm;   // the outer AlgorithmIdentifier, whole
};

size_t HeaderLength(const std::string& der, size_t at) {
    const auto first = static_cast<uint8_t>(der.at(at + 1));
    return first < 0x80 ? 2 : 2 + (first & 0x7F);
}
size_t ElementLength(const std::string& der, size_t at) {
    const auto first = static_cast<uint8_t>(der.at(at + 1));
    if (first < 0x80) return 2 + first;
    size_t length = 0;
    for (size_t i = 0; i < (first & 0x7Fu); ++i) length = (length << 8) | static_cast<uint8_t>(der.at(at + 2 + i));
    return HeaderLength(der, at) + length;
}

std::string Header(uint8_t tag, size_t length) {
    std::string out(1, static_cast<char>(tag));
    if (length < 0x80) return out + static_cast<char>(length);
    std::string octets;
    for (size_t rest = length; rest != 0; rest >>= 8) octets.insert(octets.begin(), static_cast<char>(rest & 0xFF));
    return out + static_cast<char>(0x80 | octets.size()) + octets;
}

CrlTemplate Split(const std::string& der) {
    CrlTemplate t;
    t.der = der;
    const size_t tbsAt = HeaderLength(der, 0);
    t.tbs = der.substr(tbsAt, ElementLength(der, tbsAt));
    const size_t algorithmAt = tbsAt + t.tbs.size();
    t.algorithm = der.substr(algorithmAt, ElementLength(der, algorithmAt));
    size_t at = HeaderLength(t.tbs, 0);
    if (t.tbs.at(at) == 0x02) at += ElementLength(t.tbs, at);  // version
    at += ElementLength(t.tbs, at);                             // signature algorithm
    at += ElementLength(t.tbs, at);                             // issuer
    if (t.tbs.at(at) != 0x17) throw std::runtime_error("thisUpdate is no UTCTime");
    t.thisUpdateAt = at + 2 + 10;  // "YYMMDDHHMM" then the seconds
    return t;
}

// The template signed again with thisUpdate's seconds and minutes taken
// from `variant`: bytes no cache has seen, of the same size and meaning.
std::string Resigned(const CrlTemplate& t, unsigned variant, EVP_PKEY* key) {
    std::string tbs = t.tbs;
    tbs[t.thisUpdateAt - 2] = static_cast<char>('0' + (variant / 600) % 6);
    tbs[t.thisUpdateAt - 1] = static_cast<char>('0' + (variant / 60) % 10);
    tbs[t.thisUpdateAt] = static_cast<char>('0' + (variant / 10) % 6);
    tbs[t.thisUpdateAt + 1] = static_cast<char>('0' + variant % 10);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t length = 0;
    std::string signature(512, '\0');
    length = signature.size();
    const bool ok = EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestSign(context, reinterpret_cast<unsigned char*>(&signature[0]), &length, Bytes(tbs),
                                   tbs.size()) == 1;
    EVP_MD_CTX_free(context);
    if (!ok) throw std::runtime_error("cannot sign a CRL");
    signature.resize(length);
    const std::string bits = Header(0x03, signature.size() + 1) + '\0' + signature;
    const std::string body = tbs + t.algorithm + bits;
    return Header(0x30, body.size()) + body;
}

struct Setup {
    const FixturePki& pki = FixturePki::Shared();
    std::string token = pki.Token("good-sha256");
    std::string intermediate = pki.CertDer(Ca::Intermediate);
    ZORBELUBlob blob{};
    ZORBELUDigestInfo digest{};
    zorbelu::fixtures::ossl::PkeyPtr key =
        zorbelu::fixtures::x509::CachedKey("intermediate", zorbelu::fixtures::x509::KeyType::EcP256);
    std::map<int, CrlTemplate> crls;  // by entry count
    unsigned variant = 0;

    Setup() {
        blob.data = reinterpret_cast<uint8_t*>(token.data());
        blob.length = static_cast<uint32_t>(token.size());
        const std::string imprint = pki.DataDigest(Digest::Sha256);
        std::strcpy(digest.algorithmOid, "2.16.840.1.101.3.4.2.1");
        std::memcpy(digest.digest, imprint.data(), imprint.size());
        digest.digestLength = static_cast<uint32_t>(imprint.size());
    }

    const CrlTemplate& Crl(int entries) {
        auto found = crls.find(entries);
        if (found != crls.end()) return found->second;
        std::vector<uint64_t> serials;
        for (int i = 0; i < entries; ++i) serials.push_back(0x5000000000ull + static_cast<uint64_t>(i) * 7919);
        return crls.emplace(entries, Split(pki.MakeCrl(Ca::Intermediate, serials))).first->second;
    }
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

// A core store: the intermediate as the anchor, and `crl`.
ZORBELCertStore* StoreWith(const std::string& crl) {
    Setup& s = Shared();
    ZORBELCertStore* store = ZORBELCreateCertStore();
    ZORBELUCertBlob ca{reinterpret_cast<uint8_t*>(s.intermediate.data()), static_cast<uint32_t>(s.intermediate.size()),
                       ZORBELU_ENCODING_DER};
    ZORBELUCertBlob list{const_cast<uint8_t*>(Bytes(crl)), static_cast<uint32_t>(crl.size()), ZORBELU_ENCODING_DER};
    if (store == nullptr || ZORBELAddCACert(store, &ca) != ZORBEL_OK || ZORBELAddCRL(store, &list) != ZORBEL_OK)
        throw std::runtime_error("cannot fill a core store");
    return store;
}

uint32_t Verify(ZORBELCertStore* store) {
    Setup& s = Shared();
    return ZORBELVerifyTimeStampToken(&s.blob, &s.digest, nullptr, store);
}

void BM_Warm(benchmark::State& state) {
    const CrlTemplate& crl = Shared().Crl(static_cast<int>(state.range(0)));
    ZORBELCertStore* store = StoreWith(crl.der);
    if (const uint32_t first = Verify(store); first != ZORBEL_OK) {
        (void)ZORBELFreeCertStore(store);
        return state.SkipWithError(("the first verification answers " + std::to_string(first)).c_str());
    }
    for (auto _ : state)
        if (Verify(store) != ZORBEL_OK) state.SkipWithError("the warm verification fails");
    state.counters["crl_bytes"] = static_cast<double>(crl.der.size());
    (void)ZORBELFreeCertStore(store);
}

void BM_Cold(benchmark::State& state) {
    Setup& s = Shared();
    const CrlTemplate& crl = s.Crl(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        const std::string fresh = Resigned(crl, ++s.variant, s.key.get());
        state.ResumeTiming();
        ZORBELCertStore* store = StoreWith(fresh);
        const uint32_t result = Verify(store);
        (void)ZORBELFreeCertStore(store);
        if (result != ZORBEL_OK) state.SkipWithError("the cold verification fails");
    }
}

void BM_OpenSslDecode(benchmark::State& state) {
    const CrlTemplate& crl = Shared().Crl(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const unsigned char* p = Bytes(crl.der);
        X509_CRL* decoded = d2i_X509_CRL(nullptr, &p, static_cast<long>(crl.der.size()));
        if (decoded == nullptr) state.SkipWithError("OpenSSL cannot decode the CRL");
        X509_CRL_free(decoded);
    }
}

void BM_Held(benchmark::State& state) {
    Setup& s = Shared();
    const CrlTemplate& crl = s.Crl(static_cast<int>(state.range(0)));
    double perByte = 0;
    for (auto _ : state) {
        const std::string fresh = Resigned(crl, ++s.variant, s.key.get());
        ZORBELCertStore* store = StoreWith(fresh);
        const int64_t before = g_liveBytes;
        if (Verify(store) != ZORBEL_OK) state.SkipWithError("the verification fails");
        perByte = static_cast<double>(g_liveBytes - before) / static_cast<double>(fresh.size());
        (void)ZORBELFreeCertStore(store);
    }
    state.counters["held_per_der_byte"] = perByte;
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int n : {0, 1000, 20000, 200000}) b->Arg(n);
}

BENCHMARK(BM_Warm)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Cold)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslDecode)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Held)->Apply(Sizes)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    // Before OpenSSL allocates anything, so that every block is counted.
    if (CRYPTO_set_mem_functions(CryptoMalloc, CryptoRealloc, CryptoFree) != 1) return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
