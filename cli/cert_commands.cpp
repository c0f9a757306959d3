#include "cert_commands.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

const std::vector<std::string> kCertsFlags = {"json"};
const std::vector<std::string> kTsaCertFlags = {"json"};

namespace {

std::string BlobBytes(const ZORBELUCertBlob& blob) {
    return std::string(reinterpret_cast<const char*>(blob.data), blob.length);
}

const char* Extension(uint32_t encoding, bool crl) {
    if (encoding == ZORBELU_ENCODING_PEM) return crl ? ".crl.pem" : ".pem";
    return crl ? ".crl" : ".cer";
}

// Writes an array of ZORBELUGetCertificates as numbered files.
std::vector<std::string> WriteArray(const ZORBELUCertBlob* array, const std::filesystem::path& folder,
                                    const char* stem, bool crl) {
    std::vector<std::string> written;
    for (size_t i = 0; array != nullptr && array[i].data != nullptr; ++i) {
        const std::string path =
            (folder / (std::string(stem) + "-" + std::to_string(i + 1) + Extension(array[i].encoding, crl))).string();
        if (!WriteFile(path, BlobBytes(array[i]))) throw std::runtime_error("cannot write " + path);
        written.push_back(path);
    }
    return written;
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? ", " : "") + JsonString(items[i]);
    return out + "]";
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
    if (args.positional.empty() || !args.has("out")) throw UsageError("give the token file and --out DIR");
    const auto token = ReadFile(args.positional[0]);
    if (!token) throw UsageError("cannot read " + args.positional[0]);
    const std::filesystem::path folder = args.get("out");
    std::filesystem::create_directories(folder);

    const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token->data()), static_cast<uint32_t>(token->size())};
    ZORBELUBlob tsaCert{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    const uint32_t timeout = static_cast<uint32_t>(std::stoul(args.get("timeout", "0")));
    const uint32_t result =
        ZORBELUGetCertificates(&blob, static_cast<int32_t>(timeout), nullptr, &tsaCert, &cas, &crls);
    // The TSA certificate is there even when no chain was found.
    std::vector<std::string> written;
    if (tsaCert.data != nullptr && (result == ZORBELU_OK || result == ZORBELU_ERR_SELF_ISSUED ||
                                    result == ZORBELU_ERR_NOT_FOUND || result == ZORBELU_ERR_CDP ||
                                    result == ZORBELU_ERR_CRL)) {
        const std::string path = (folder / "tsa.cer").string();
        if (WriteFile(path, std::string(reinterpret_cast<const char*>(tsaCert.data), tsaCert.length)))
            written.push_back(path);
    }
    std::vector<std::string> caFiles, crlFiles;
    if (result == ZORBELU_OK) {
        caFiles = WriteArray(cas, folder, "ca", false);
        crlFiles = WriteArray(crls, folder, "crl", true);
        (void)ZORBELUFreeCertificates(&cas);
        if (crls != nullptr) (void)ZORBELUFreeCertificates(&crls);
    }
    if (args.has("json")) {
        std::printf("{\"result\": %u, \"message\": %s, \"tsa\": %s, \"ca\": %s, \"crl\": %s}\n", result,
                    JsonString(result == ZORBELU_OK ? "gathered" : ErrorText(result)).c_str(),
                    JsonList(written).c_str(), JsonList(caFiles).c_str(), JsonList(crlFiles).c_str());
    } else {
        std::printf("%u %s\n", result, result == ZORBELU_OK ? "gathered" : ErrorText(result).c_str());
        for (const auto& list : {written, caFiles, crlFiles})
            for (const std::string& path : list) std::printf("  %s\n", path.c_str());
    }
    return result == ZORBELU_OK ? kExitValid : kExitError;
}

int TsaCertCommand(const Arguments& args) {
    if (args.positional.empty()) throw UsageError("give the certificate file");
    auto bytes = ReadFile(args.positional[0]);
    if (!bytes) throw UsageError("cannot read " + args.positional[0]);
    ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(bytes->data()), static_cast<uint32_t>(bytes->size()),
                         ZORBELU_ENCODING_DETECT};
    ZORBELUTSACertResult verdicts{};
    uint32_t result = 0;
    const uint32_t timeout = static_cast<uint32_t>(std::stoul(args.get("timeout", "0")));
    if (args.has("at")) {
        // At a moment: the chain from the stores gathered for a token, or
        // given in --chain-of TOKEN.
        if (!args.has("chain-of")) throw UsageError("--at needs --chain-of TOKEN, whose chain and CRLs are used");
        const int64_t at = ZORBELUGeneralizedTimeToTimeT(args.get("at").c_str());
        if (at <= 0) throw UsageError("--at needs a time like 20240229120000Z");
        const auto token = ReadFile(args.get("chain-of"));
        if (!token) throw UsageError("cannot read " + args.get("chain-of"));
        const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token->data()), static_cast<uint32_t>(token->size())};
        ZORBELUBlob tsaCert{};
        ZORBELUCertBlob* cas = nullptr;
        ZORBELUCertBlob* crls = nullptr;
        ZORBELCertStore* store = ZORBELCreateCertStore();
        const uint32_t gathered =
            ZORBELUGetCertificates(&blob, static_cast<int32_t>(timeout), nullptr, &tsaCert, &cas, &crls);
        if (gathered == ZORBELU_OK) {
            for (ZORBELUCertBlob* c = cas; c != nullptr && c->data != nullptr; ++c) ZORBELAddCACert(store, c);
            for (ZORBELUCertBlob* c = crls; c != nullptr && c->data != nullptr; ++c) ZORBELAddCRL(store, c);
            (void)ZORBELUFreeCertificates(&cas);
            if (crls != nullptr) (void)ZORBELUFreeCertificates(&crls);
        }
        result = ZORBELUVerifyTSACertificateAtTime(&cert, store, at, &verdicts);
        ZORBELFreeCertStore(store);
    } else {
        result = ZORBELUVerifyTSACertificate(&cert, nullptr, static_cast<int32_t>(timeout), nullptr, &verdicts);
    }
    const std::string language = args.get("lang");
    if (args.has("json")) {
        std::printf("{\"result\": %u, \"validity\": %u, \"revocation\": %u, \"chain\": %u}\n", result,
                    verdicts.validity, verdicts.revocation, verdicts.chain);
    } else {
        if (result != ZORBELU_OK) std::printf("%u %s\n", result, ErrorText(result).c_str());
        const struct {
            const char* line;
            uint32_t code;
        } lines[] = {{"validity", verdicts.validity}, {"revocation", verdicts.revocation}, {"chain", verdicts.chain}};
        for (const auto& l : lines)
            std::printf("%-11s %u  %s\n", l.line, l.code, VerdictText(l.line, l.code, language).c_str());
    }
    if (result != ZORBELU_OK && result != ZORBELU_ERR_COMM_CONNECT) return kExitError;
    const bool allGood = verdicts.validity == ZORBELU_OK && verdicts.revocation == ZORBELU_VS_NOT_REVOKED &&
                         verdicts.chain == ZORBELU_VS_CERT_SIGNATURE_OK;
    return allGood ? kExitValid : kExitStatus;
}

}  // namespace zorbelu::cli
