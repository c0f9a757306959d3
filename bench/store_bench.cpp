// Full verification against system stores of growing size, side by side in
// one run. Each store root holds the fixture PKI's root in "ROOT" and its
// intermediate in "CA", plus N filler certificates in each folder (other
// subjects, signed by a throwaway CA with one key): N = 1, 1,000, 10,000.
//
//   BM_StoreWarm/N   ZORBELUVerifyTimeStampTokenEx2, CRL cache store kept
//                    across iterations, the process has looked at the
//                    stores before
//   BM_StoreCold/N   the first call in a new process (this executable run
//                    again with --cold-child): the child measures the CPU
//                    time of its one call and writes it; process start-up is
//                    not counted.
//                    The stores were looked at before by other processes,
//                    less than a minute ago, as in a batch of one-shot
//                    processes; the index files they left record the
//                    folders as they are.
//
// Every call's verdict is checked. Ratios against N = 1 follow the table.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_hex.h"
#include "support/served_pki.h"
#include "verify/verify_test_support.h"
#include "zorbel.h"
#include "zorbelutil.h"

extern char** environ;

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Digest;
using fixtures::Store;
using fixtures::Tsa;
using fixtures::TokenSpec;

constexpr int kSizes[] = {1, 1000, 10000};

// Many certificates, fast: one EC key signs them all and is their key too.
class FillerMaker {
public:
    FillerMaker() {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
        if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) != 1 ||
            EVP_PKEY_CTX_set_group_name(ctx, "prime256v1") != 1 || EVP_PKEY_keygen(ctx, &key_) != 1)
            throw std::runtime_error("no EC key");
        EVP_PKEY_CTX_free(ctx);
    }
    ~FillerMaker() { EVP_PKEY_free(key_); }

    std::string Make(int serial) const {
        X509* cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
        X509_NAME* issuer = X509_get_issuer_name(cert);
        X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Throwaway CA"),
                                   -1, -1, 0);
        const std::string subject = "Filler " + std::to_string(serial);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(subject.c_str()),
                                   -1, -1, 0);
        X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 3650);
        X509_set_pubkey(cert, key_);
        if (X509_sign(cert, key_, EVP_sha256()) <= 0) throw std::runtime_error("cannot sign a filler");
        unsigned char* der = nullptr;
        const int size = i2d_X509(cert, &der);
        std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(size));
        OPENSSL_free(der);
        X509_free(cert);
        return bytes;
    }

private:
    EVP_PKEY* key_ = nullptr;
};

struct Bench {
    test::ServedPki served;  // sets ZORBELU_SYSTEM_ROOTS=0
    std::string token;
    std::string imprint;
    ZORBELUBlob blob{};
    ZORBELUDigestInfo digest{};
    std::filesystem::path tokenFile;
    std::map<int, std::filesystem::path> storeRoots;  // by filler count

    Bench() {
        token = served.pki().MakeToken(TokenSpec(Tsa::Good, Digest::Sha256));
        imprint = served.pki().DataDigest(Digest::Sha256);
        blob = test::Blob(token);
        digest = test::DigestRecord(served.pki());
        tokenFile = served.storeDir().parent_path() / "token.tst";
        std::ofstream(tokenFile, std::ios::binary) << token;

        const FillerMaker maker;
        std::vector<std::string> fillers;
        for (int i = 0; i < kSizes[std::size(kSizes) - 1]; ++i) fillers.push_back(maker.Make(i + 1));
        for (const int size : kSizes) {
            const std::filesystem::path root = served.storeDir().parent_path() / ("stores-" + std::to_string(size));
            served.pki().InstallInStore(root, Store::Root, Ca::Root);
            served.pki().InstallInStore(root, Store::Ca, Ca::Intermediate);
            for (const char* folder : {"ROOT", "CA"})
                for (int i = 0; i < size; ++i) {
                    char name[32];
                    std::snprintf(name, sizeof name, "filler-%05d.der", i);
                    std::ofstream(root / folder / name, std::ios::binary) << fillers[static_cast<size_t>(i)];
                }
            storeRoots[size] = root;
        }
        // Files written just now are read again on every look until their
        // times are two seconds old (store_files.h); a user's store is older.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    }

    void Use(int size) const { setenv("ZORBELU_STORE_DIR", storeRoots.at(size).c_str(), 1); }
};

Bench* g_bench = nullptr;

void BM_StoreWarm(benchmark::State& state) {
    Bench& b = *g_bench;
    b.Use(static_cast<int>(state.range(0)));
    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) return state.SkipWithError("no CRL cache store");
    bool right = ZORBELUVerifyTimeStampTokenEx2(&b.blob, &b.digest, 600000, nullptr, cache) == ZORBELU_VS_OK;
    for (auto _ : state) {
        if (!right) break;
        right = ZORBELUVerifyTimeStampTokenEx2(&b.blob, &b.digest, 600000, nullptr, cache) == ZORBELU_VS_OK;
    }
    ZORBELUFreeCRLCacheStore(cache);
    if (!right) state.SkipWithError("full verification failed");
}

// One child process: its first verification's time in nanoseconds, or -1.
double ColdChildNanoseconds(const Bench& b) {
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string imprint = Hex(b.imprint);
    const std::string token = b.tokenFile.string();
    char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>("--cold-child"),
                    const_cast<char*>(token.c_str()), const_cast<char*>(imprint.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[128];
    for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::strtod(text.c_str(), nullptr);
}

void BM_StoreCold(benchmark::State& state) {
    Bench& b = *g_bench;
    b.Use(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const double ns = ColdChildNanoseconds(b);
        if (ns < 0) return state.SkipWithError("the first verification failed");
        state.SetIterationTime(ns / 1e9);
    }
}

// In the child: one verification with a new CRL cache store, timed.
int ColdChild(const char* tokenFile, const char* imprintHex) {
    const std::string token = test::ReadFileBytes(tokenFile);
    ZORBELUDigestInfo record{};
    std::strcpy(record.algorithmOid, fixtures::FixturePki::DigestOid(Digest::Sha256));
    for (size_t i = 0; imprintHex[2 * i] != '\0' && i < sizeof record.digest; ++i) {
        const char pair[3] = {imprintHex[2 * i], imprintHex[2 * i + 1], 0};
        record.digest[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16));
        record.digestLength = static_cast<uint32_t>(i + 1);
    }
    const ZORBELUBlob blob = test::Blob(token);
    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) return 1;
    // CPU time of the process: what the call costs, whatever else the
    // machine runs meanwhile.
    timespec start{}, end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    const uint32_t result = ZORBELUVerifyTimeStampTokenEx2(&blob, &record, 600000, nullptr, cache);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    const long long elapsed = (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
    ZORBELUFreeCRLCacheStore(cache);
    if (result != ZORBELU_VS_OK) {
        std::fprintf(stderr, "the first verification answered %u\n", static_cast<unsigned>(result));
        return 2;
    }
    std::printf("%lld\n", elapsed);
    return 0;
}

BENCHMARK(BM_StoreWarm)->Arg(1)->Arg(1000)->Arg(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreCold)->Arg(1)->Arg(1000)->Arg(10000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The console table, then each size's median against the size 1 median.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // Warm: CPU time of the benchmark's thread; cold: the child's CPU time.
            const bool cold = run.run_name.function_name == "BM_StoreCold";
            if (run.run_type == Run::RT_Aggregate ? run.aggregate_name == "median" : run.repetitions <= 1)
                times_[run.run_name.function_name][run.run_name.args] =
                    cold ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nCPU times (medians) and their ratios against 1 certificate per store:\n");
        for (const auto& [name, bySize] : times_) {
            const auto one = bySize.find("1");
            if (one == bySize.end()) continue;
            for (const auto& [size, time] : bySize)
                std::printf("  %-14s %6s: %10.3f (%.2fx)\n", name.c_str(), size.c_str(), time, time / one->second);
        }
        std::printf("Targets: warm 10000 <= 1.3x warm 1; cold 10000 <= 50 ms.\n");
    }

private:
    std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--cold-child") == 0) return ColdChild(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Bench bench;
    g_bench = &bench;
    // Other processes look at every store first, as in a batch of one-shot
    // processes. The first one writes the folders' index files, which
    // changes the folders; once their times have settled, the second one
    // records the folders as they stay (folder_index.h).
    for (int round = 0; round < 2; ++round) {
        for (const int size : kSizes) {
            bench.Use(size);
            if (ColdChildNanoseconds(bench) < 0) {
                std::fprintf(stderr, "verification fails with %d certificates per store\n", size);
                return 1;
            }
        }
        if (round == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
