#include "create_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"
#include "proxy_settings.h"
#include "token_commands.h"
#include "zorbel.h"
#include "zorbelcomm.h"

namespace zorbelu::cli {
namespace {

// What the creation call's own codes mean; the rest as every command says them.
std::string CreationErrorText(uint32_t code) {
    switch (code) {
        case ZORBEL_ERR_TSA_REJECTED: return "the TSA refused the request";
        case ZORBEL_ERR_TSA_MISMATCH: return "the TSA's answer is unreadable or is not the token asked for";
        case ZORBEL_ERR_PARAM: return "the TSA URL or the request was not accepted";
        default: return ErrorText(code);
    }
}

ZORBELTimeStampRequest RequestOf(const Arguments& args) {
    ZORBELTimeStampRequest request;
    std::memset(&request, 0, sizeof request);
    request.digest = DataDigest(args, std::nullopt);  // --alg, else SHA-256
    const std::string policy = args.get("policy");
    if (policy.size() >= sizeof request.policyOid || policy.find_first_not_of("0123456789.") != std::string::npos)
        throw UsageError("--policy takes a dotted object identifier such as 1.2.3.4, not '" + policy + "'");
    std::memcpy(request.policyOid, policy.c_str(), policy.size() + 1);
    request.certReq = args.has("no-cert-req") ? 0 : 1;
    request.nonce = args.has("no-nonce") ? 0 : 1;
    return request;
}

// The digest given with --digest must be as long as its algorithm's.
void CheckDigestLength(const Arguments& args, const ZORBELUDigestInfoEx& digest) {
    if (!args.has("digest")) return;
    const std::string alg = args.get("alg", "sha256");
    const uint32_t expected = alg == "sha1" ? 20 : alg == "sha384" ? 48 : alg == "sha512" ? 64 : 32;
    if (digest.digestLength != expected)
        throw UsageError("--digest of " + alg + " takes " + std::to_string(expected * 2) + " hex digits");
}

// The token as the TSA gave it, or the creation call's error code.
uint32_t AskTsa(const Arguments& args, const ZORBELTimeStampRequest& request, std::string* token) {
    const std::string url = args.get("tsa");
    ZORBELTSAConnection connection{url.c_str(), TimeoutOption(args), nullptr};
    token->assign(64u << 10, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        ZORBELUCertBlob out{reinterpret_cast<uint8_t*>(token->data()), static_cast<uint32_t>(token->size()), 0};
        const uint32_t result = ZORBELHTTP3161CreateTimeStampToken(reinterpret_cast<uintptr_t>(&connection), &request,
                                                                   reinterpret_cast<uintptr_t>(&out));
        // Too small: asked again with room for what the TSA sent, within the
        // bound of every file zorbelu reads.
        if (result == ZORBEL_ERR_BUFFER_TOO_SMALL && attempt == 0 && out.length <= kMaxInputFileBytes) {
            token->assign(out.length + 64, '\0');
            continue;
        }
        token->resize(result == ZORBEL_OK ? out.length : 0);
        return result;
    }
    return ZORBEL_ERR_BUFFER_TOO_SMALL;
}

void WriteToken(const Arguments& args, const std::string& token) {
    const std::string out = args.get("out", "-");
    if (out != "-") return WriteNewFile(out, token, args.has("force"));
    if (!platform::WriteAll(STDOUT_FILENO, token.data(), token.size()))
        throw std::runtime_error(std::string("cannot write the token: ") + std::strerror(errno));
}

}  // namespace

int CreateCommand(const Arguments& args) {
    if (!args.has("tsa")) throw UsageError("create: give --tsa URL");
    const std::string out = args.get("out", "-");
    if (args.has("json") && out == "-")
        throw UsageError("create: --json prints the answer on stdout; give --out FILE for the token");
    // A token is binary: never onto a terminal unless asked for with --out -.
    if (!args.has("out") && isatty(STDOUT_FILENO) != 0)
        throw UsageError("create: stdout is a terminal; give --out FILE (or --out - to write there all the same)");
    struct stat existing {};
    if (out != "-" && !args.has("force") && lstat(out.c_str(), &existing) == 0)
        throw FileError(out + " exists already (--force replaces it)");  // before the TSA is asked
    const ZORBELTimeStampRequest request = RequestOf(args);
    CheckDigestLength(args, request.digest);
    const ZORBELUProxyInfo proxy = Connection(args);
    if (ZORBELPRVSetProxy(&proxy) != ZORBELCOMM_OK) throw UsageError("create: the proxy settings were not accepted");
    Note("asking " + args.get("tsa") + " for a token");

    std::string token;
    const uint32_t result = AskTsa(args, request, &token);
    if (result != ZORBEL_OK) {
        const std::string message = CreationErrorText(result);
        if (args.has("json")) PrintJson(AnswerJson("create", result, message, kExitError, args.get("tsa")));
        std::fprintf(stderr, "zorbelu: %u %s (%s)\n", result, message.c_str(), args.get("tsa").c_str());
        return kExitError;
    }
    WriteToken(args, token);
    if (args.has("json")) {
        nlohmann::ordered_json answer = AnswerJson("create", ZORBEL_OK, "token created", kExitValid);
        answer["out"] = args.get("out");
        answer["bytes"] = token.size();
        PrintJson(answer);
    } else if (args.get("out", "-") != "-") {
        std::fprintf(stderr, "zorbelu: wrote %s (%zu bytes)\n", args.get("out").c_str(), token.size());
    }
    return kExitValid;
}

}  // namespace zorbelu::cli
