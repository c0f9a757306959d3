#include "cert_commands.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "reasons.h"
#include "token_commands.h"
#include "trust_check.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {


namespace {

std::string BlobBytes(const ZORBELUCertBlob& blob) {
    return std::string(reinterpret_cast<const char*>(blob.data), blob.length);
}

const char* Extension(uint32_t encoding, bool crl) {
    if (encoding == ZORBELU_ENCODING_PEM) return crl ? ".crl.pem" : ".pem";
    return crl ? ".crl" : ".cer";
}

// A file `certs` writes into its folder.
struct OutputFile {
    std::filesystem::path path;
    std::string bytes;
};

// An array of ZORBELUGetCertificates as numbered files.
void PlanArray(const ZORBELUCertBlob* array, const std::filesystem::path& folder, const char* stem, bool crl,
               std::vector<OutputFile>* files) {
    for (size_t i = 0; array != nullptr && array[i].data != nullptr; ++i)
        files->push_back({folder / (std::string(stem) + "-" + std::to_string(i + 1) + Extension(array[i].encoding, crl)),
                          BlobBytes(array[i])});
}

// Writes every file, or none when one is there already (a link too) and
// `force` was not given.
void WriteAllOrNone(const std::vector<OutputFile>& files, bool force) {
    if (!force) {
        for (const OutputFile& file : files) {
            std::error_code ignored;
            if (std::filesystem::symlink_status(file.path, ignored).type() != std::filesystem::file_type::not_found)
                throw FileError(file.path.string() + " exists already (--force replaces it)");
        }
    }
    for (const OutputFile& file : files) WriteNewFile(file.path, file.bytes, force);
}

std::vector<std::string> Paths(const std::vector<OutputFile>& files, size_t from, size_t to) {
    std::vector<std::string> paths;
    for (size_t i = from; i < to; ++i) paths.push_back(files[i].path.string());
    return paths;
}

// A verdict's text from the library's string table (the detailed status
// lines), or the code alone.
std::string VerdictText(const char* line, uint32_t code, const std::string& language) {
    static const struct {
        const char* line;
        uint32_t code;
        uint32_t text;
    } kTexts[] = {
        {"validity", 1, 5057},    {"validity", 2502, 5003},   {"revocation", 2513, 5058},
        {"revocation", 2504, 5059}, {"revocation", 2514, 5060}, {"revocation", 2505, 5061},
        {"revocation", 2506, 5062}, {"chain", 2515, 5063},      {"chain", 2503, 5064},
        {"chain", 2516, 5065},    {"chain", 2507, 5070},
    };
    for (const auto& entry : kTexts)
        if (std::strcmp(entry.line, line) == 0 && entry.code == code) return LibraryText(entry.text, language);
    return "";
}

}  // namespace

int CertsCommand(const Arguments& args) {
    if (!args.has("out")) throw UsageError("certs: give --out DIR");
    const Token token = LoadToken(args);
    const std::filesystem::path folder = args.get("out");
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made || !std::filesystem::is_directory(folder))
        throw FileError("cannot make the folder " + folder.string() + (made ? ": " + made.message() : ""));
    const ZORBELUProxyInfo proxy = Connection(args);

    const ZORBELUBlob blob = token.blob();
    NoteDownloads(blob);
    ZORBELUBlob tsaCert{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    const uint32_t result =
        ZORBELUGetCertificates(&blob, static_cast<int32_t>(TimeoutOption(args)), &proxy, &tsaCert, &cas, &crls);
    // The TSA certificate is there even when no chain was found.
    std::vector<OutputFile> files;
    if (tsaCert.data != nullptr && (result == ZORBELU_OK || result == ZORBELU_ERR_SELF_ISSUED ||
                                    result == ZORBELU_ERR_NOT_FOUND || result == ZORBELU_ERR_CDP ||
                                    result == ZORBELU_ERR_CRL))
        files.push_back({folder / "tsa.cer", std::string(reinterpret_cast<const char*>(tsaCert.data), tsaCert.length)});
    const size_t tsaEnd = files.size();
    if (result == ZORBELU_OK) {
        PlanArray(cas, folder, "ca", false, &files);
        (void)ZORBELUFreeCertificates(&cas);
    }
    const size_t caEnd = files.size();
    if (result == ZORBELU_OK && crls != nullptr) {
        PlanArray(crls, folder, "crl", true, &files);
        (void)ZORBELUFreeCertificates(&crls);
    }
    WriteAllOrNone(files, args.has("force"));
    const std::vector<std::string> written = Paths(files, 0, tsaEnd), caFiles = Paths(files, tsaEnd, caEnd),
                                   crlFiles = Paths(files, caEnd, files.size());
    const std::string message = result == ZORBELU_OK ? "gathered" : ErrorText(result);
    const int exitStatus = result == ZORBELU_OK ? kExitValid : kExitError;
    if (args.has("json")) {
        nlohmann::ordered_json answer = AnswerJson("certs", result, message, exitStatus, GatheringReason(result, blob));
        answer["tsa"] = written;
        answer["ca"] = caFiles;
        answer["crl"] = crlFiles;
        PrintJson(answer);
    } else {
        std::printf("%u %s\n", result, message.c_str());
        if (result != ZORBELU_OK) std::printf("why:        %s\n", GatheringReason(result, blob).c_str());
        for (const auto& list : {written, caFiles, crlFiles})
            for (const std::string& path : list) std::printf("  %s\n", path.c_str());
    }
    return exitStatus;
}

int TsaCertCommand(const Arguments& args) {
    // As DER when zorbelu can read it, so that the trust rule compares the
    // very bytes; else as given, for the library to tell what is wrong.
    const std::string given = ReadFile(args.positional[0]);
    const std::optional<std::string> decoded = CertificateDer(given);
    std::string der = decoded.value_or(given);
    ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size()),
                         decoded ? ZORBELU_ENCODING_DER : ZORBELU_ENCODING_DETECT};
    ZORBELUTSACertResult verdicts{};
    uint32_t result = 0;
    const uint32_t timeout = TimeoutOption(args);
    const ZORBELUProxyInfo proxy = Connection(args);
    if (args.has("at")) {
        // At a moment: the chain from the stores gathered for a token, or
        // given in --chain-of TOKEN.
        if (!args.has("chain-of")) throw UsageError("--at needs --chain-of TOKEN, whose chain and CRLs are used");
        const int64_t at = ZORBELUGeneralizedTimeToTimeT(args.get("at").c_str());
        if (at <= 0) throw UsageError("--at needs a time like 20240229120000Z");
        const Token token{DerOfPemOrDer(ReadFile(args.get("chain-of")), args.get("chain-of"))};
        const ZORBELUBlob blob = token.blob();
        ZORBELUBlob tsaCert{};
        ZORBELUCertBlob* cas = nullptr;
        ZORBELUCertBlob* crls = nullptr;
        ZORBELCertStore* store = ZORBELCreateCertStore();
        const uint32_t gathered =
            ZORBELUGetCertificates(&blob, static_cast<int32_t>(timeout), &proxy, &tsaCert, &cas, &crls);
        if (gathered == ZORBELU_OK) {
            for (ZORBELUCertBlob* c = cas; c != nullptr && c->data != nullptr; ++c) ZORBELAddCACert(store, c);
            for (ZORBELUCertBlob* c = crls; c != nullptr && c->data != nullptr; ++c) ZORBELAddCRL(store, c);
            (void)ZORBELUFreeCertificates(&cas);
            if (crls != nullptr) (void)ZORBELUFreeCertificates(&crls);
        }
        result = ZORBELUVerifyTSACertificateAtTime(&cert, store, at, &verdicts);
        ZORBELFreeCertStore(store);
    } else {
        result = ZORBELUVerifyTSACertificate(&cert, nullptr, static_cast<int32_t>(timeout), &proxy, &verdicts);
    }
    // Verdicts came (1, or 1202 with the record filled): the chain verdict
    // holds only for a certificate that earns trust.
    const std::string why =
        result == ZORBELU_OK || result == ZORBELU_ERR_COMM_CONNECT ? ConfirmChainVerdict(der, &verdicts) : "";
    const std::string language = args.get("lang");
    const bool judged = result == ZORBELU_OK || result == ZORBELU_ERR_COMM_CONNECT;
    const bool allGood = verdicts.validity == ZORBELU_OK && verdicts.revocation == ZORBELU_VS_NOT_REVOKED &&
                         verdicts.chain == ZORBELU_VS_CERT_SIGNATURE_OK;
    const int exitStatus = !judged ? kExitError : allGood ? kExitValid : kExitStatus;
    const std::string reason = !why.empty() ? why : judged ? VerdictReason(der, verdicts) : ErrorText(result);
    if (args.has("json")) {
        nlohmann::ordered_json answer =
            AnswerJson("tsa-cert", result, result == ZORBELU_OK ? "judged" : ErrorText(result), exitStatus, reason);
        answer["validity"] = verdicts.validity;
        answer["revocation"] = verdicts.revocation;
        answer["chain"] = verdicts.chain;
        PrintJson(answer);
    } else {
        if (result != ZORBELU_OK) std::printf("%u %s\n", result, ErrorText(result).c_str());
        const struct {
            const char* line;
            uint32_t code;
        } lines[] = {{"validity", verdicts.validity}, {"revocation", verdicts.revocation}, {"chain", verdicts.chain}};
        for (const auto& l : lines)
            std::printf("%-11s %u  %s\n", l.line, l.code, VerdictText(l.line, l.code, language).c_str());
        if (!reason.empty()) std::printf("why:        %s\n", reason.c_str());
    }
    return exitStatus;
}

}  // namespace zorbelu::cli
