// Verification throughput, measured side by side in one process on one token
// (tsa-good under the intermediate, SHA-256) of one fixture PKI served on
// 127.0.0.1:
//
//   BM_OpenSslFloor              TS_RESP_verify_token, the TSA certificate as
//                                the only trust anchor: what our integrity
//                                check does (docs/performance.md)
//   BM_OpenSslFloorRootTrusted   the same, chained to the root as `openssl ts
//                                -verify` does; for information
//   BM_CoreIntegrity             ZORBELVerifyTimeStampToken with no store
//   BM_CoreIntegrityRsa          the same on a token of the RSA-2048 TSA
//   BM_BareVerifyP256, BM_BareVerifyRsa
//                                one SHA-256 signature check with the TSA's
//                                key and nothing else: the floor of integrity
//   BM_ByPolicy3, BM_ByPolicy2   ZORBELUVerifyTimeStampTokenByPolicy
//   BM_FullWarmCache             ZORBELUVerifyTimeStampTokenEx2, one CRL cache
//                                store kept across iterations
//   BM_FullWarmCacheManyTokens   the same over 64 distinct tokens of the same
//                                TSA in turn: nothing is remembered per token
//   BM_FullWarmCacheSystemRoots  the same with the OS CA bundle in "ROOT"
//   BM_OpenSslChainWithCrls      X509_verify_cert of the TSA certificate, root
//                                and intermediate trusted, both CRLs preloaded
//   BM_OpenSslProcessPerToken    one `openssl ts -verify` process per token
//   BM_OpenSslDecodeCertificate, BM_OpenSslCertificateSignature
//                                two components, for the profile
//   BM_TenThousandTokens         10,000 distinct tokens through the full
//                                verification in one process: memory,
//                                descriptors and time per call, start and end
//   BM_ProcessPerTokenPaired     `zorbelu verify` and `openssl ts -verify`
//                                processes in turn, CRLs cached: medians
//   BM_CliTwentyMegabyteCrl      `zorbelu verify` fetching, then reusing, a
//                                20 MB CRL, in a bounded address space
//
// Every benchmark is timed on the wall clock (UseRealTime), so that the child
// processes and any loopback download count. After the table the ratios are
// printed against their targets.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_hex.h"
#include "support/served_pki.h"
#include "x509/ossl_ptr.h"
#include "verify/verify_test_support.h"
#include "zorbel.h"
#include "zorbelutil.h"

extern char** environ;

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Digest;
using fixtures::Store;
using fixtures::Tsa;
using fixtures::TokenSpec;
namespace owned = x509::owned;

X509* ParseCert(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (cert == nullptr) throw std::runtime_error("cannot parse a fixture certificate");
    return cert;
}

X509_CRL* ParseCrl(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
    if (crl == nullptr) throw std::runtime_error("cannot parse a fixture CRL");
    return crl;
}

// Everything the benchmarks share: made once, before the first benchmark.
struct Bench {
    test::ServedPki served;  // sets ZORBELU_STORE_DIR and ZORBELU_SYSTEM_ROOTS=0
    std::string token;
    std::string imprint;  // SHA-256 of the data
    ZORBELUBlob blob{};
    ZORBELUDigestInfo digest{};
    ZORBELUDigestInfoEx digestEx{};
    X509* tsaCert = nullptr;
    X509_STORE* tsaOnlyStore = nullptr;  // the TSA certificate as the only anchor
    X509_STORE* rootStore = nullptr;     // the root as the anchor, for TS_RESP_verify_token
    STACK_OF(X509)* intermediates = nullptr;
    X509_STORE* crlStore = nullptr;      // root and intermediate trusted, both CRLs
    std::filesystem::path tokenFile;
    // Distinct tokens of the same TSA, each stamping its own imprint.
    static constexpr int kManyTokens = 64;
    std::vector<std::string> manyTokens;
    std::vector<ZORBELUDigestInfo> manyDigests;
    // The RSA-2048 TSA's token of the same data.
    std::string rsaToken;
    ZORBELUBlob rsaBlob{};
    std::filesystem::path rsaTokenFile;

    Bench() {
        served.pki().InstallInStore(served.storeDir(), Store::Root, Ca::Root);
        served.pki().InstallInStore(served.storeDir(), Store::Ca, Ca::Intermediate);
        token = served.pki().MakeToken(TokenSpec(Tsa::Good, Digest::Sha256));
        imprint = served.pki().DataDigest(Digest::Sha256);
        blob = test::Blob(token);
        digest = test::DigestRecord(served.pki());
        digestEx = test::DigestRecordEx(served.pki());

        tsaCert = ParseCert(served.pki().CertDer(Tsa::Good));
        X509* root = ParseCert(served.pki().CertDer(Ca::Root));
        X509* intermediate = ParseCert(served.pki().CertDer(Ca::Intermediate));

        tsaOnlyStore = X509_STORE_new();
        X509_STORE_add_cert(tsaOnlyStore, tsaCert);
        X509_STORE_set_flags(tsaOnlyStore, X509_V_FLAG_PARTIAL_CHAIN);

        rootStore = X509_STORE_new();
        X509_STORE_add_cert(rootStore, root);
        intermediates = sk_X509_new_null();
        X509_up_ref(intermediate);
        sk_X509_push(intermediates, intermediate);

        crlStore = X509_STORE_new();
        X509_STORE_add_cert(crlStore, root);
        X509_STORE_add_cert(crlStore, intermediate);
        for (const Crl crl : {Crl::Root, Crl::Intermediate}) {
            X509_CRL* parsed = ParseCrl(served.pki().CrlBytes(crl));
            X509_STORE_add_crl(crlStore, parsed);
            X509_CRL_free(parsed);
        }
        X509_STORE_set_flags(crlStore, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
        X509_free(root);
        X509_free(intermediate);

        tokenFile = served.storeDir().parent_path() / "token.tst";
        std::ofstream(tokenFile, std::ios::binary) << token;
        rsaToken = served.pki().MakeToken(TokenSpec(Tsa::GoodRsa, Digest::Sha256));
        rsaBlob = test::Blob(rsaToken);
        rsaTokenFile = served.storeDir().parent_path() / "token-rsa.tst";
        std::ofstream(rsaTokenFile, std::ios::binary) << rsaToken;
        MakeManyTokens();
        // The store files were written just now. Until their times are two
        // seconds old every look at the store reads them again, since a change
        // within the file system's time resolution could otherwise go unseen
        // (src/platform/stores/store_files.h); a user's store is older.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    }

    void MakeManyTokens() {
        for (int i = 0; i < kManyTokens; ++i) {
            TokenSpec recipe(Tsa::Good, Digest::Sha256);
            recipe.imprint = imprint;
            recipe.imprint[0] = static_cast<char>(i);
            recipe.imprint[1] = static_cast<char>(i >> 8);
            manyTokens.push_back(served.pki().MakeToken(recipe));
            ZORBELUDigestInfo record = digest;
            std::memcpy(record.digest, recipe.imprint.data(), recipe.imprint.size());
            manyDigests.push_back(record);
        }
    }

    ~Bench() {
        X509_STORE_free(crlStore);
        sk_X509_pop_free(intermediates, X509_free);
        X509_STORE_free(rootStore);
        X509_STORE_free(tsaOnlyStore);
        X509_free(tsaCert);
    }

    size_t Downloads() {
        return served.server().requestCount(served.crlPath(Crl::Root)) +
               served.server().requestCount(served.crlPath(Crl::Intermediate));
    }
};

Bench* g_bench = nullptr;

// TS_RESP_verify_token as a verifier of a token held as bytes: parse, verify,
// free. `store` is taken over by the context in OpenSSL 3.0, hence the
// reference added each time.
bool OpenSslVerify(const Bench& b, X509_STORE* store, STACK_OF(X509)* untrusted) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.token.data());
    PKCS7* token = d2i_PKCS7(nullptr, &p, static_cast<long>(b.token.size()));
    if (token == nullptr) return false;
    TS_VERIFY_CTX* ctx = TS_VERIFY_CTX_new();
    TS_VERIFY_CTX_set_flags(ctx, TS_VFY_SIGNATURE | TS_VFY_IMPRINT | TS_VFY_VERSION);
    X509_STORE_up_ref(store);
    TS_VERIFY_CTX_set_store(ctx, store);
    if (untrusted != nullptr) {
        STACK_OF(X509)* copy = X509_chain_up_ref(untrusted);
        TS_VERIFY_CTX_set_certs(ctx, copy);
    }
    auto* imprint = static_cast<unsigned char*>(OPENSSL_memdup(b.imprint.data(), b.imprint.size()));
    TS_VERIFY_CTX_set_imprint(ctx, imprint, static_cast<long>(b.imprint.size()));
    const int ok = TS_RESP_verify_token(ctx, token);
    TS_VERIFY_CTX_free(ctx);
    PKCS7_free(token);
    return ok == 1;
}

void BM_OpenSslFloor(benchmark::State& state) {
    Bench& b = *g_bench;
    if (!OpenSslVerify(b, b.tsaOnlyStore, nullptr)) return state.SkipWithError("OpenSSL rejects the token");
    for (auto _ : state) benchmark::DoNotOptimize(OpenSslVerify(b, b.tsaOnlyStore, nullptr));
}

void BM_OpenSslFloorRootTrusted(benchmark::State& state) {
    Bench& b = *g_bench;
    if (!OpenSslVerify(b, b.rootStore, b.intermediates)) return state.SkipWithError("OpenSSL rejects the token");
    for (auto _ : state) benchmark::DoNotOptimize(OpenSslVerify(b, b.rootStore, b.intermediates));
}

void BM_CoreIntegrity(benchmark::State& state) {
    Bench& b = *g_bench;
    if (ZORBELVerifyTimeStampToken(&b.blob, &b.digest, nullptr, nullptr) != ZORBEL_OK)
        return state.SkipWithError("integrity check failed");
    for (auto _ : state) benchmark::DoNotOptimize(ZORBELVerifyTimeStampToken(&b.blob, &b.digest, nullptr, nullptr));
}

void ByPolicy(benchmark::State& state, uint32_t policy) {
    Bench& b = *g_bench;
    if (ZORBELUVerifyTimeStampTokenByPolicy(&b.blob, &b.digestEx, 3000, nullptr, nullptr, policy) != ZORBELU_VS_OK)
        return state.SkipWithError("by-policy verification failed");
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ZORBELUVerifyTimeStampTokenByPolicy(&b.blob, &b.digestEx, 3000, nullptr, nullptr, policy));
}

void BM_ByPolicy2(benchmark::State& state) { ByPolicy(state, ZORBELU_POLICY_CHAIN_ONLY); }
void BM_ByPolicy3(benchmark::State& state) { ByPolicy(state, ZORBELU_POLICY_TOKEN_ONLY); }

void BM_FullWarmCache(benchmark::State& state) {
    Bench& b = *g_bench;
    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) return state.SkipWithError("no CRL cache store");
    // Warm: the first call downloads both CRLs from the loopback server.
    if (ZORBELUVerifyTimeStampTokenEx2(&b.blob, &b.digest, 3000, nullptr, cache) != ZORBELU_VS_OK) {
        ZORBELUFreeCRLCacheStore(cache);
        return state.SkipWithError("full verification failed");
    }
    const size_t before = b.Downloads();
    for (auto _ : state)
        benchmark::DoNotOptimize(ZORBELUVerifyTimeStampTokenEx2(&b.blob, &b.digest, 3000, nullptr, cache));
    state.counters["downloads"] = static_cast<double>(b.Downloads() - before);
    ZORBELUFreeCRLCacheStore(cache);
}

// The same over distinct tokens of the same TSA in turn, as a host verifying
// many documents sees it: only what the tokens share (the TSA certificate,
// its chain and CRLs, their verdict) is remembered.
void BM_FullWarmCacheManyTokens(benchmark::State& state) {
    Bench& b = *g_bench;
    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) return state.SkipWithError("no CRL cache store");
    bool verified = true;
    for (int i = 0; i < Bench::kManyTokens && verified; ++i) {
        const ZORBELUBlob blob = test::Blob(b.manyTokens[i]);
        verified = ZORBELUVerifyTimeStampTokenEx2(&blob, &b.manyDigests[i], 3000, nullptr, cache) == ZORBELU_VS_OK;
    }
    if (!verified) {
        ZORBELUFreeCRLCacheStore(cache);
        return state.SkipWithError("full verification failed");
    }
    int next = 0;
    for (auto _ : state) {
        const ZORBELUBlob blob = test::Blob(b.manyTokens[next]);
        benchmark::DoNotOptimize(ZORBELUVerifyTimeStampTokenEx2(&blob, &b.manyDigests[next], 3000, nullptr, cache));
        next = (next + 1) % Bench::kManyTokens;
    }
    ZORBELUFreeCRLCacheStore(cache);
}

// The same with the operating system's CA bundle shown in "ROOT"
// (ZORBELU_SYSTEM_ROOTS unset), as on a user's machine; for information.
void BM_FullWarmCacheSystemRoots(benchmark::State& state) {
    Bench& b = *g_bench;
    unsetenv("ZORBELU_SYSTEM_ROOTS");
    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) {
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        return state.SkipWithError("no CRL cache store");
    }
    if (ZORBELUVerifyTimeStampTokenEx2(&b.blob, &b.digest, 3000, nullptr, cache) == ZORBELU_VS_OK) {
        for (auto _ : state)
            benchmark::DoNotOptimize(ZORBELUVerifyTimeStampTokenEx2(&b.blob, &b.digest, 3000, nullptr, cache));
    } else {
        state.SkipWithError("full verification failed");
    }
    ZORBELUFreeCRLCacheStore(cache);
    setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
}

bool ChainWithCrls(const Bench& b) {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    bool ok = X509_STORE_CTX_init(ctx, b.crlStore, b.tsaCert, nullptr) == 1 && X509_verify_cert(ctx) == 1;
    X509_STORE_CTX_free(ctx);
    return ok;
}

void BM_OpenSslChainWithCrls(benchmark::State& state) {
    Bench& b = *g_bench;
    if (!ChainWithCrls(b)) return state.SkipWithError("X509_verify_cert failed");
    for (auto _ : state) benchmark::DoNotOptimize(ChainWithCrls(b));
}

// One `openssl ts -verify` process: spawn, wait; true on exit status 0.
bool OpenSslProcess(Bench& b, const std::string& digestHex) {
    const std::string tokenPath = b.tokenFile.string();
    const std::string root = b.served.pki().CertPemPath(Ca::Root).string();
    const std::string intermediate = b.served.pki().CertPemPath(Ca::Intermediate).string();
    const char* argv[] = {"openssl", "ts", "-verify", "-token_in", "-in", tokenPath.c_str(), "-digest",
                          digestHex.c_str(), "-CAfile", root.c_str(), "-untrusted", intermediate.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double ChildrenCpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_stime.tv_sec)) * 1e6 +
           static_cast<double>(usage.ru_utime.tv_usec) + static_cast<double>(usage.ru_stime.tv_usec);
}

// The CPU time of the children is not in the benchmark's CPU time (that of
// this thread): it is the counter child_cpu_us, per iteration.
void BM_OpenSslProcessPerToken(benchmark::State& state) {
    Bench& b = *g_bench;
    const std::string digestHex = Hex(b.imprint);
    if (!OpenSslProcess(b, digestHex)) return state.SkipWithError("openssl ts -verify failed");
    const double before = ChildrenCpuMicros();
    for (auto _ : state) benchmark::DoNotOptimize(OpenSslProcess(b, digestHex));
    state.counters["child_cpu_us"] = benchmark::Counter(ChildrenCpuMicros() - before, benchmark::Counter::kAvgIterations);
}

// Two components of every verification, for the profile in docs/performance.md:
// decoding one certificate (OpenSSL 3 decodes its public key through the
// provider decoders) and checking one ECDSA P-256 certificate signature.
void BM_OpenSslDecodeCertificate(benchmark::State& state) {
    const std::string& der = g_bench->served.pki().CertDer(Tsa::Good);
    for (auto _ : state) {
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        benchmark::DoNotOptimize(cert);
        X509_free(cert);
    }
}

void BM_OpenSslCertificateSignature(benchmark::State& state) {
    Bench& b = *g_bench;
    EVP_PKEY* key = X509_get0_pubkey(sk_X509_value(b.intermediates, 0));
    if (X509_verify(b.tsaCert, key) != 1) return state.SkipWithError("signature of the TSA certificate");
    for (auto _ : state) benchmark::DoNotOptimize(X509_verify(b.tsaCert, key));
}

// ---- integrity against the bare signature check, per key type ------------

void BM_CoreIntegrityRsa(benchmark::State& state) {
    Bench& b = *g_bench;
    if (ZORBELVerifyTimeStampToken(&b.rsaBlob, &b.digest, nullptr, nullptr) != ZORBEL_OK)
        return state.SkipWithError("integrity check of the RSA token failed");
    for (auto _ : state)
        benchmark::DoNotOptimize(ZORBELVerifyTimeStampToken(&b.rsaBlob, &b.digest, nullptr, nullptr));
}

// A SHA-256 signature by a TSA's key over 200 bytes (about the size of a
// token's signed attributes), and the public key as decoded from the TSA's
// certificate: all a verifier of the token's signature cannot avoid.
struct BareSignature {
    std::string message = std::string(200, 'a');
    std::string signature;
    owned::PkeyPtr key;
};

BareSignature SignWith(Bench& b, Tsa tsa) {
    BareSignature out;
    const std::string pem = b.served.pki().KeyPem(tsa);
    owned::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    owned::PkeyPtr privateKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    owned::MdCtxPtr ctx(EVP_MD_CTX_new());
    size_t length = 0;
    if (!privateKey || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, privateKey.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, test::Bytes(out.message), out.message.size()) != 1)
        throw std::runtime_error("cannot sign with a fixture key");
    out.signature.resize(length);
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(out.signature.data()), &length,
                       test::Bytes(out.message), out.message.size()) != 1)
        throw std::runtime_error("cannot sign with a fixture key");
    out.signature.resize(length);
    owned::X509Ptr cert(ParseCert(b.served.pki().CertDer(tsa)));
    out.key.reset(X509_get_pubkey(cert.get()));
    return out;
}

bool BareVerify(const BareSignature& s) {
    owned::MdCtxPtr ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, s.key.get()) == 1 &&
           EVP_DigestVerify(ctx.get(), test::Bytes(s.signature), s.signature.size(), test::Bytes(s.message),
                            s.message.size()) == 1;
}

void BareVerifyBenchmark(benchmark::State& state, Tsa tsa) {
    const BareSignature signature = SignWith(*g_bench, tsa);
    if (!BareVerify(signature)) return state.SkipWithError("the bare signature does not verify");
    for (auto _ : state) benchmark::DoNotOptimize(BareVerify(signature));
}

void BM_BareVerifyP256(benchmark::State& state) { BareVerifyBenchmark(state, Tsa::Good); }
void BM_BareVerifyRsa(benchmark::State& state) { BareVerifyBenchmark(state, Tsa::GoodRsa); }

// ---- many distinct tokens in one process ---------------------------------

long ResidentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long OpenDescriptors() {
    long count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count - 1;  // the iterator's own
}

struct Snapshot {
    long residentKb = 0;
    long descriptors = 0;
    double microsPerCall = 0;  // CPU time, over the window that ends here
};

// This thread's CPU time: on a shared machine the wall time per call swings
// with the load, the CPU time much less.
double ThreadCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Verifies tokens [first, last) with the full verification; false on the
// first wrong answer.
bool VerifyRange(const std::vector<std::string>& tokens, const std::vector<ZORBELUDigestInfo>& digests, size_t first,
                 size_t last, ZORBELUCRLCacheStore* cache, double* microsPerCall) {
    const double start = ThreadCpuMicros();
    for (size_t i = first; i < last; ++i) {
        const ZORBELUBlob blob = test::Blob(tokens[i]);
        if (ZORBELUVerifyTimeStampTokenEx2(&blob, &digests[i], 3000, nullptr, cache) != ZORBELU_VS_OK) return false;
    }
    *microsPerCall = (ThreadCpuMicros() - start) / static_cast<double>(last - first);
    return true;
}

// 10,000 distinct tokens of one TSA (each its own imprint, serial and
// signature) through ZORBELUVerifyTimeStampTokenEx2 with one warm CRL cache
// store, once each. The start is taken after the first 1,000 calls (every
// cache has met what the tokens share by then), the end after the last; CPU
// time per call over the 1,000 calls before each. A bounded process shows
// the same memory, descriptors and time per call at both.
void BM_TenThousandTokens(benchmark::State& state) {
    Bench& b = *g_bench;
    constexpr size_t kTokens = 10000, kWindow = 1000;
    std::vector<std::string> tokens;
    std::vector<ZORBELUDigestInfo> digests;
    for (size_t i = 0; i < kTokens; ++i) {
        TokenSpec recipe(Tsa::Good, Digest::Sha256);
        recipe.imprint = b.imprint;
        std::memcpy(recipe.imprint.data(), &i, sizeof i);
        tokens.push_back(b.served.pki().MakeToken(recipe));
        ZORBELUDigestInfo record = b.digest;
        std::memcpy(record.digest, recipe.imprint.data(), recipe.imprint.size());
        digests.push_back(record);
    }
    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) return state.SkipWithError("no CRL cache store");
    Snapshot start, end;
    bool verified = true;
    for (auto _ : state) {
        verified = VerifyRange(tokens, digests, 0, kWindow, cache, &start.microsPerCall);
        start.residentKb = ResidentKilobytes();
        start.descriptors = OpenDescriptors();
        verified = verified && VerifyRange(tokens, digests, kWindow, kTokens - kWindow, cache, &end.microsPerCall) &&
                   VerifyRange(tokens, digests, kTokens - kWindow, kTokens, cache, &end.microsPerCall);
        end.residentKb = ResidentKilobytes();
        end.descriptors = OpenDescriptors();
    }
    ZORBELUFreeCRLCacheStore(cache);
    if (!verified) return state.SkipWithError("a token failed the full verification");
    state.counters["rss_kb_start"] = static_cast<double>(start.residentKb);
    state.counters["rss_kb_end"] = static_cast<double>(end.residentKb);
    state.counters["fds_start"] = static_cast<double>(start.descriptors);
    state.counters["fds_end"] = static_cast<double>(end.descriptors);
    state.counters["cpu_us_call_start"] = start.microsPerCall;
    state.counters["cpu_us_call_end"] = end.microsPerCall;
}

// ---- one process per token: zorbelu against openssl ----------------------

struct ChildCost {
    double cpuMs = 0;
    double wallMs = 0;
    bool ok = false;
};

// Runs argv[0] (looked up in PATH) with stdout and stderr on /dev/null; its
// own CPU time (user + system, from wait4) and the wall time to its end.
ChildCost RunChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ChildCost cost;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return cost;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return cost;
    cost.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    cost.cpuMs = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec)) / 1e3;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// The zorbelu program this build made; ZORBELU_BENCH_CLI names another one
// (the same program built from older code, to compare).
std::string CliPath() {
    const char* other = std::getenv("ZORBELU_BENCH_CLI");
    return other != nullptr && *other != '\0' ? other : ZORBELU_CLI_PATH;
}

// `zorbelu verify` (policy 1: chain and CRLs, the CRLs from its disk cache)
// and `openssl ts -verify` (chain to the same root, no CRLs) of the RSA-2048
// token, in turn, the order swapped every pair. The first zorbelu run, not
// counted, fills the CRL cache; a counted run that downloads is an error.
// Counters: the medians of each side's CPU and wall time, and their ratios.
void BM_ProcessPerTokenPaired(benchmark::State& state) {
    Bench& b = *g_bench;
    constexpr int kPairs = 40;
    test::TempDir cacheHome;
    setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
    const std::string digestHex = Hex(b.imprint);
    const std::vector<std::string> zorbelu = {CliPath(), "verify", b.rsaTokenFile.string(), "--digest", digestHex,
                                              "--no-proxy"};
    const std::vector<std::string> openssl = {
        "openssl", "ts", "-verify", "-token_in", "-in", b.rsaTokenFile.string(), "-digest", digestHex,
        "-CAfile", b.served.pki().CertPemPath(Ca::Root).string(),
        "-untrusted", b.served.pki().CertPemPath(Ca::Intermediate).string()};
    if (!RunChild(zorbelu).ok) return state.SkipWithError("zorbelu verify failed (ZORBELU_BENCH_CLI?)");
    if (!RunChild(openssl).ok) return state.SkipWithError("openssl ts -verify failed");
    const size_t downloads = b.Downloads();
    std::vector<double> ourCpu, ourWall, theirCpu, theirWall;
    bool ok = true;
    for (auto _ : state) {
        for (int pair = 0; pair < kPairs && ok; ++pair) {
            const bool oursFirst = pair % 2 == 0;
            const ChildCost first = RunChild(oursFirst ? zorbelu : openssl);
            const ChildCost second = RunChild(oursFirst ? openssl : zorbelu);
            const ChildCost& ours = oursFirst ? first : second;
            const ChildCost& theirs = oursFirst ? second : first;
            ok = ours.ok && theirs.ok;
            ourCpu.push_back(ours.cpuMs);
            ourWall.push_back(ours.wallMs);
            theirCpu.push_back(theirs.cpuMs);
            theirWall.push_back(theirs.wallMs);
        }
    }
    unsetenv("XDG_CACHE_HOME");
    if (!ok) return state.SkipWithError("a verification process failed");
    if (b.Downloads() != downloads) return state.SkipWithError("zorbelu downloaded a CRL: the cache was not used");
    state.counters["zorbelu_cpu_ms"] = Median(ourCpu);
    state.counters["openssl_cpu_ms"] = Median(theirCpu);
    state.counters["cpu_ratio"] = Median(ourCpu) / Median(theirCpu);
    state.counters["zorbelu_wall_ms"] = Median(ourWall);
    state.counters["openssl_wall_ms"] = Median(theirWall);
    state.counters["wall_ratio"] = Median(ourWall) / Median(theirWall);
}

// `zorbelu verify` with a 20 MB CRL of the intermediate (530,000 entries,
// none the TSA's): the first run downloads it into an empty CRL cache folder,
// the second takes it from there. Registered last: the intermediate's CRL
// stays replaced for the rest of the run.
constexpr size_t kAddressSpace = 256u << 20;

void BM_CliTwentyMegabyteCrl(benchmark::State& state) {
    Bench& b = *g_bench;
    std::vector<uint64_t> serials;
    for (uint64_t i = 0; i < 530000; ++i) serials.push_back(0x5000000000ull + i * 7919);
    const std::string crl = b.served.pki().MakeCrl(Ca::Intermediate, serials);
    b.served.server().serveFile(b.served.crlPath(Crl::Intermediate), crl);
    test::TempDir cacheHome;
    setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
    // Each run within an address space of kAddressSpace bytes (prlimit sets
    // it, then runs the program): memory stays bounded. (A child's peak
    // resident size cannot tell: it counts this process's from before exec.)
    const std::string limit = "--as=" + std::to_string(kAddressSpace);
    const std::vector<std::string> zorbelu = {"prlimit", limit, CliPath(), "verify", b.rsaTokenFile.string(),
                                              "--digest", Hex(b.imprint), "--no-proxy"};
    ChildCost fetched, cached;
    size_t fetches = 0, refetches = 0;
    for (auto _ : state) {
        const size_t before = b.Downloads();
        fetched = RunChild(zorbelu);
        fetches = b.Downloads() - before;
        cached = RunChild(zorbelu);
        refetches = b.Downloads() - before - fetches;
    }
    unsetenv("XDG_CACHE_HOME");
    if (!fetched.ok || !cached.ok)
        return state.SkipWithError("zorbelu verify with a 20 MB CRL failed (or outgrew its address space)");
    if (fetches == 0 || refetches != 0)
        return state.SkipWithError("the 20 MB CRL was not fetched once and then cached");
    state.counters["crl_mb"] = static_cast<double>(crl.size()) / 1e6;
    state.counters["fetch_wall_ms"] = fetched.wallMs;
    state.counters["cached_wall_ms"] = cached.wallMs;
    state.counters["address_space_mb"] = static_cast<double>(kAddressSpace >> 20);
}

BENCHMARK(BM_OpenSslFloor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSslFloorRootTrusted)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CoreIntegrity)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ByPolicy3)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ByPolicy2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullWarmCache)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullWarmCacheManyTokens)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullWarmCacheSystemRoots)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(20);
BENCHMARK(BM_OpenSslChainWithCrls)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSslProcessPerToken)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(40);
BENCHMARK(BM_OpenSslDecodeCertificate)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSslCertificateSignature)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CoreIntegrityRsa)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareVerifyP256)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareVerifyRsa)->UseRealTime()->Unit(benchmark::kMicrosecond);
// One pass over the 10,000 tokens; one run of 40 pairs of processes. Their
// counters are the result: run them without repetitions
// (--benchmark_filter='TenThousand|Paired').
BENCHMARK(BM_TenThousandTokens)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ProcessPerTokenPaired)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CliTwentyMegabyteCrl)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The console table, then the ratios of the times per iteration, wall clock
// and CPU (the children's CPU time added for the process per token): the
// median of the repetitions when there are several, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            // Every benchmark is in microseconds.
            Times times{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            const auto child = run.counters.find("child_cpu_us");
            if (child != run.counters.end()) times.cpu += child->second.value;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") median_[name] = times;
            } else if (run.repetitions <= 1) {
                single_[name] = times;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::FILE* out = stdout;
        std::fprintf(out, "\nRatios of the times per verification%s:\n",
                     median_.empty() ? "" : " (medians of the repetitions)");
        std::fprintf(out, "  %-58s %9s %9s  %-15s %s\n", "", "wall", "CPU", "target", "verdict (wall)");
        Ratio(out, "integrity / OpenSSL floor", "BM_CoreIntegrity", "BM_OpenSslFloor", "<= 1.25", 1.25, true);
        Ratio(out, "full, warm cache / X509_verify_cert with CRLs", "BM_FullWarmCache", "BM_OpenSslChainWithCrls",
              "<= 1.5", 1.5, true);
        Ratio(out, "process per token / full, warm cache (throughput)", "BM_OpenSslProcessPerToken",
              "BM_FullWarmCache", ">= 100", 100.0, false);
        Ratio(out, "process per token / integrity (throughput)", "BM_OpenSslProcessPerToken", "BM_CoreIntegrity",
              "(info)", 0, false);
        Ratio(out, "policy 3 / OpenSSL floor", "BM_ByPolicy3", "BM_OpenSslFloor", "(info)", 0, true);
        Ratio(out, "policy 2 / OpenSSL floor chained to the root", "BM_ByPolicy2", "BM_OpenSslFloorRootTrusted",
              "(info)", 0, true);
        Ratio(out, "full, warm cache / (floor + X509_verify_cert with CRLs)", "BM_FullWarmCache",
              "BM_OpenSslFloor+BM_OpenSslChainWithCrls", "(info)", 0, true);
        Ratio(out, "full, 64 distinct tokens / full, warm cache", "BM_FullWarmCacheManyTokens", "BM_FullWarmCache",
              "(info)", 0, true);
        Ratio(out, "full with the OS bundle / full, warm cache", "BM_FullWarmCacheSystemRoots", "BM_FullWarmCache",
              "(info)", 0, true);
        Ratio(out, "integrity, RSA-2048 / bare RSA-2048 verify", "BM_CoreIntegrityRsa", "BM_BareVerifyRsa",
              "<= 1.6", 1.6, true);
        Ratio(out, "integrity, P-256 / bare P-256 verify", "BM_CoreIntegrity", "BM_BareVerifyP256", "(info)", 0,
              true);
        std::fflush(out);
    }

private:
    struct Times {
        double real = 0;
        double cpu = 0;
    };

    bool Time(const std::string& names, Times* us) const {
        *us = Times{};
        size_t start = 0;
        while (start <= names.size()) {
            const size_t plus = names.find('+', start);
            const std::string name = names.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
            const auto& source = median_.empty() ? single_ : median_;
            const auto found = source.find(name);
            if (found == source.end()) return false;
            us->real += found->second.real;
            us->cpu += found->second.cpu;
            if (plus == std::string::npos) break;
            start = plus + 1;
        }
        return true;
    }

    void Ratio(std::FILE* out, const char* what, const std::string& numerator, const std::string& denominator,
               const char* target, double limit, bool atMost) const {
        Times top, bottom;
        if (!Time(numerator, &top) || !Time(denominator, &bottom) || bottom.real <= 0 || bottom.cpu <= 0) {
            std::fprintf(out, "  %-58s   not measured\n", what);
            return;
        }
        const double ratio = top.real / bottom.real;
        const char* verdict = limit == 0 ? "" : ((atMost ? ratio <= limit : ratio >= limit) ? "met" : "MISSED");
        std::fprintf(out, "  %-58s %9.2f %9.2f  %-15s %s\n", what, ratio, top.cpu / bottom.cpu, target, verdict);
    }

    std::map<std::string, Times> median_;
    std::map<std::string, Times> single_;
};

}  // namespace

int main(int argc, char** argv) {
    setenv("ZORBELU_UI", "headless", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    int result = 0;
    try {
        Bench bench;
        g_bench = &bench;
        RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                 : benchmark::ConsoleReporter::OO_Tabular);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        g_bench = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zorbelu_verify_bench: %s\n", e.what());
        result = 1;
    }
    benchmark::Shutdown();
    return result;
}
