#include "token_commands.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "zorbel.h"
#include "zorbelcomm.h"
#include "proxy_settings.h"
#include "crl_disk_cache.h"
#include "reasons.h"
#include "run_trust.h"
#include "trust_check.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

Token LoadToken(const Arguments& args) {
    if (args.positional.empty()) throw UsageError("give the token file");
    return Token{DerOfPemOrDer(ReadFile(args.positional[0]), args.positional[0])};
}

namespace {

struct AlgorithmName {
    const char* name;
    const char* oid;
    uint32_t code;
};

constexpr AlgorithmName kAlgorithms[] = {
    {"sha1", "1.3.14.3.2.26", ZORBEL_HASH_SHA1},          {"md5", "1.2.840.113549.2.5", ZORBEL_HASH_MD5},
    {"sha256", "2.16.840.1.101.3.4.2.1", ZORBEL_HASH_SHA256}, {"sha384", "2.16.840.1.101.3.4.2.2", ZORBEL_HASH_SHA384},
    {"sha512", "2.16.840.1.101.3.4.2.3", ZORBEL_HASH_SHA512},
};

const AlgorithmName* AlgorithmByName(const std::string& name) {
    for (const AlgorithmName& a : kAlgorithms)
        if (name == a.name) return &a;
    return nullptr;
}

const AlgorithmName* AlgorithmByOid(const std::string& oid) {
    for (const AlgorithmName& a : kAlgorithms)
        if (oid == a.oid) return &a;
    return nullptr;
}

}  // namespace

std::optional<ZORBELTimeStampInfo> ReadInfo(const Token& token) {
    ZORBELTimeStampInfo info;
    std::memset(&info, 0, sizeof info);
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    const ZORBELUBlob blob = token.blob();
    if (ZORBELGetTimeStampInfoEx(&blob, &info) != ZORBEL_OK) return std::nullopt;
    return info;
}

// The digest of the data: hashed from --data with the token's own imprint
// algorithm (or --alg), or given with --digest.
ZORBELUDigestInfoEx DataDigest(const Arguments& args, const std::optional<ZORBELTimeStampInfo>& info) {
    const AlgorithmName* algorithm = nullptr;
    if (args.has("alg")) {
        algorithm = AlgorithmByName(args.get("alg"));
        if (algorithm == nullptr) throw UsageError("unknown algorithm " + args.get("alg"));
    } else if (info) {
        algorithm = AlgorithmByOid(info->hashAlgorithmOid);
    }
    if (algorithm == nullptr) algorithm = AlgorithmByName("sha256");

    ZORBELUDigestInfoEx digest;
    std::memset(&digest, 0, sizeof digest);
    if (args.has("digest")) {
        const auto bytes = FromHex(args.get("digest"));
        if (!bytes || bytes->size() > sizeof digest.digest) throw UsageError("--digest needs hex digits");
        std::strcpy(digest.algorithmOid, algorithm->oid);
        std::memcpy(digest.digest, bytes->data(), bytes->size());
        digest.digestLength = static_cast<uint32_t>(bytes->size());
        return digest;
    }
    if (!args.has("data")) throw UsageError("give --data FILE or --digest HEX");
    // Hashed as it is read: the data may be of any size.
    InputFile data(args.get("data"));
    ZORBELHashHandle* hash = nullptr;
    if (ZORBELHashInitEx(&hash, algorithm->code) != ZORBEL_OK) throw std::runtime_error("cannot hash");
    // 64 KiB a read: a larger buffer only costs the pages it touches.
    std::vector<char> chunk(1u << 16);
    try {
        while (const size_t got = data.Read(chunk.data(), chunk.size()))
            if (ZORBELHashUpdateEx(hash, chunk.data(), static_cast<uint32_t>(got)) != ZORBEL_OK)
                throw std::runtime_error("cannot hash");
    } catch (...) {
        (void)ZORBELHashFreeEx(hash);
        throw;
    }
    if (ZORBELHashFinalEx(hash, &digest) != ZORBEL_OK) throw std::runtime_error("cannot hash");
    return digest;
}

ZORBELUDigestInfo ShortDigest(const ZORBELUDigestInfoEx& digest) {
    ZORBELUDigestInfo record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.algorithmOid, digest.algorithmOid, sizeof record.algorithmOid);
    std::memcpy(record.digest, digest.digest, std::min<size_t>(digest.digestLength, sizeof record.digest));
    record.digestLength = digest.digestLength;
    return record;
}

namespace {
std::atomic<bool> progressSilenced{false};
}  // namespace

void Progress::Silence() { progressSilenced = true; }

Progress::Progress() : enabled_(isatty(STDERR_FILENO) != 0 && !progressSilenced) {
    if (enabled_) thread_ = std::thread([this] { Run(); });
}

Progress::~Progress() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
}

void Progress::Run() {
        const auto start = std::chrono::steady_clock::now();
        bool shown = false;
        while (!done_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if (elapsed < std::chrono::seconds(1)) continue;
            std::fprintf(stderr, "\rverifying, downloading certificates and CRLs... %lds",
                         static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()));
            shown = true;
        }
        if (shown) std::fprintf(stderr, "\r%60s\r", "");
}

namespace {

void PrintInfoHuman(const ZORBELTimeStampInfo& info) {
    std::printf("TSA:        %s\n", info.tsaName[0] != '\0' ? info.tsaName : "(not named)");
    std::printf("policy:     %s\n", info.policyOid);
    std::printf("time:       %s\n", info.genTime);
    std::printf("serial:     %s\n", x509::HexText(info.serialNumber, info.serialNumberLength).c_str());
    const AlgorithmName* algorithm = AlgorithmByOid(info.hashAlgorithmOid);
    std::printf("imprint:    %s %s\n", algorithm != nullptr ? algorithm->name : info.hashAlgorithmOid,
                x509::HexText(info.hashValue, info.hashLength).c_str());
    if (info.accuracySeconds != 0 || info.accuracyMillis != 0 || info.accuracyMicros != 0)
        std::printf("accuracy:   %d s %d ms %d us\n", info.accuracySeconds, info.accuracyMillis, info.accuracyMicros);
    std::printf("ordering:   %s\n", info.ordering == 1 ? "true" : "false");
}

// What the token says, with the nonce read beside the library's record.
nlohmann::ordered_json InfoJson(const ZORBELTimeStampInfo& info, const Token& token) {
    return {{"tsa", info.tsaName},
            {"policy", info.policyOid},
            {"time", info.genTime},
            {"serial", x509::HexText(info.serialNumber, info.serialNumberLength)},
            {"imprintAlgorithm", info.hashAlgorithmOid},
            {"imprint", x509::HexText(info.hashValue, info.hashLength)},
            {"accuracy", {{"seconds", info.accuracySeconds}, {"millis", info.accuracyMillis},
                          {"micros", info.accuracyMicros}}},
            {"ordering", info.ordering == 1},
            {"nonce", TokenNonce(token.blob())}};
}

// The engine the options choose: --crl-buffer (the TSA certificate's issuer
// in "ROOT", its CRL alone), --full (the whole chain, every CRL) or
// --policy N (the default, policy 1: the whole chain and every CRL, any
// digest algorithm).
uint32_t PolicyOption(const Arguments& args) {
    const uint32_t policy = NumberOption(args, "policy", ZORBELU_POLICY_CHAIN_AND_CRLS, UINT32_MAX);
    if (policy < ZORBELU_POLICY_CHAIN_AND_CRLS || policy > ZORBELU_POLICY_TOKEN_ONLY)
        throw UsageError("--policy takes 1, 2 or 3");
    return policy;
}

bool ChecksChain(const Arguments& args) {
    return args.has("crl-buffer") || args.has("full") || PolicyOption(args) != ZORBELU_POLICY_TOKEN_ONLY;
}

uint32_t RunVerification(const Arguments& args, const Token& token, const ZORBELUDigestInfoEx& digest,
                         const ZORBELUProxyInfo& proxy) {
    const ZORBELUBlob blob = token.blob();
    const uint32_t timeout = TimeoutOption(args);
    const uint32_t policy = PolicyOption(args);
    Progress progress;
    if (args.has("crl-buffer")) {
        const ZORBELUDigestInfo shortDigest = ShortDigest(digest);
        return ZORBELUVerifyTimeStampTokenEx(&blob, &shortDigest, nullptr, timeout, &proxy);
    }
    const CrlDiskCache crls(args);
    if (args.has("full")) {
        const ZORBELUDigestInfo shortDigest = ShortDigest(digest);
        return ZORBELUVerifyTimeStampTokenEx2(&blob, &shortDigest, timeout, &proxy, crls.Store());
    }
    return ZORBELUVerifyTimeStampTokenByPolicy(&blob, &digest, timeout, &proxy, crls.Store(), policy);
}

}  // namespace

CheckedStatus Verify(const Arguments& args, const Token& token, const ZORBELUDigestInfoEx& digest,
                     bool trustSettled) {
    const ZORBELUProxyInfo proxy = Connection(args);
    std::optional<RunTrust> runTrust;  // until the reasons are told too
    if (!trustSettled) runTrust.emplace(args, token.blob());
    NoteDownloads(token.blob());
    const uint32_t answer = RunVerification(args, token, digest, proxy);
    Note("the verification answers " + std::to_string(answer));
    CheckedStatus checked = ChecksChain(args) ? ConfirmChain(answer, token.blob()) : CheckedStatus{answer, ""};
    if (checked.why.empty() && checked.status != ZORBELU_VS_OK)
        checked.why = VerificationReason(checked.status, token.blob(), digest, TimeoutOption(args), &proxy);
    return checked;
}

int InfoCommand(const Arguments& args) {
    const Token token = LoadToken(args);
    const auto info = ReadInfo(token);
    if (!info) {
        const std::string message = args.positional[0] + " is not a readable time-stamp token";
        const std::string reason = UnreadableTokenReason(token.blob());
        if (args.has("json")) PrintJson(AnswerJson("info", ZORBEL_VERIFY_STRUCTURE, message, kExitError, reason));
        std::fprintf(stderr, "zorbelu: %s (%s)\n", message.c_str(), reason.c_str());
        return kExitError;
    }
    if (args.has("json")) {
        nlohmann::ordered_json answer = AnswerJson("info", ZORBEL_OK, "readable", kExitValid);
        answer["token"] = InfoJson(*info, token);
        PrintJson(answer);
    } else {
        PrintInfoHuman(*info);
        if (const std::string nonce = TokenNonce(token.blob()); !nonce.empty())
            std::printf("nonce:      %s\n", nonce.c_str());
    }
    return kExitValid;
}

int VerifyCommand(const Arguments& args) {
    const Token token = LoadToken(args);
    const auto info = ReadInfo(token);
    const ZORBELUDigestInfoEx digest = DataDigest(args, info);
    const CheckedStatus checked = Verify(args, token, digest);
    const uint32_t result = checked.status;
    const bool chainChecked = ChecksChain(args);
    const bool isStatus = ZORBELU_IS_STATUS(result);
    const std::string message = isStatus ? LibraryText(StatusMessageId(result), args.get("lang")) : ErrorText(result);
    const int exitStatus = result == ZORBELU_VS_OK ? kExitValid : isStatus ? kExitStatus : kExitError;
    if (args.has("json")) {
        nlohmann::ordered_json answer = AnswerJson("verify", result, message, exitStatus, checked.why);
        answer["chainChecked"] = chainChecked;
        if (info) answer["token"] = InfoJson(*info, token);
        PrintJson(answer);
    } else {
        std::printf("%u %s\n", result, message.c_str());
        if (!checked.why.empty()) std::printf("why:        %s\n", checked.why.c_str());
        if (!chainChecked) std::printf("chain:      not checked (policy 3: the token and its TSA certificate's usage alone)\n");
        if (info) PrintInfoHuman(*info);
    }
    return exitStatus;
}

}  // namespace zorbelu::cli
