#include "demo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "demo_pki.h"
#include "dialog_commands.h"
#include "loopback_server.h"
#include "trust_check.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {


namespace {

// The embedded default: a document to time-stamp.
constexpr char kDocument[] =
    "Contract of sale, signed on the day of its time-stamp.\n"
    "The buyer pays 1,000 units; the seller delivers the goods within 30 days.\n";

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorbelu-demo-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TemporaryFolder() {
        if (!keep_) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    void Keep() { keep_ = true; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    bool keep_ = false;
};

ZORBELUDigestInfoEx Sha256(const std::string& data) {
    ZORBELUDigestInfoEx digest;
    std::memset(&digest, 0, sizeof digest);
    ZORBELHashHandle* hash = nullptr;
    if (ZORBELHashInitEx(&hash, ZORBEL_HASH_SHA256) != ZORBEL_OK ||
        ZORBELHashUpdateEx(hash, data.data(), static_cast<uint32_t>(data.size())) != ZORBEL_OK ||
        ZORBELHashFinalEx(hash, &digest) != ZORBEL_OK)
        throw std::runtime_error("cannot hash the document");
    return digest;
}

ZORBELUDigestInfo ShortForm(const ZORBELUDigestInfoEx& digest) {
    ZORBELUDigestInfo record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.algorithmOid, digest.algorithmOid, sizeof record.algorithmOid);
    std::memcpy(record.digest, digest.digest, digest.digestLength);
    record.digestLength = digest.digestLength;
    return record;
}

std::string CreateToken(const DemoPki& pki, const ZORBELUDigestInfoEx& digest) {
    ZORBELTSASigner signer;
    std::memset(&signer, 0, sizeof signer);
    signer.privateKey = reinterpret_cast<const uint8_t*>(pki.tsaKeyPem.data());
    signer.privateKeyLength = static_cast<uint32_t>(pki.tsaKeyPem.size());
    signer.certificate = reinterpret_cast<const uint8_t*>(pki.tsaCertDer.data());
    signer.certificateLength = static_cast<uint32_t>(pki.tsaCertDer.size());
    std::strcpy(signer.defaultPolicyOid, "1.3.6.1.4.1.99999.1");
    signer.accuracySeconds = 1;
    std::string token(20000, '\0');
    ZORBELUCertBlob out{reinterpret_cast<uint8_t*>(token.data()), static_cast<uint32_t>(token.size()), 0};
    const uint32_t result = ZORBELUCreateTimeStampToken(reinterpret_cast<uintptr_t>(&signer), ZORBEL_CREATE_TOKEN,
                                                        &digest, reinterpret_cast<uintptr_t>(&out));
    if (result != ZORBELU_OK) throw std::runtime_error("cannot create the token (code " + std::to_string(result) + ")");
    token.resize(out.length);
    return token;
}

struct Verification {
    const char* name;
    bool checksChain;
    std::function<uint32_t(const ZORBELUBlob*, const ZORBELUDigestInfoEx&)> run;
};

std::vector<Verification> Verifications(ZORBELUCRLCacheStore* cache) {
    return {
        {"engine with a CRL buffer", true, [](const ZORBELUBlob* token, const ZORBELUDigestInfoEx& digest) {
             const ZORBELUDigestInfo shortDigest = ShortForm(digest);
             return ZORBELUVerifyTimeStampToken(token, &shortDigest, nullptr, 5000);
         }},
        {"full verification", true, [cache](const ZORBELUBlob* token, const ZORBELUDigestInfoEx& digest) {
             const ZORBELUDigestInfo shortDigest = ShortForm(digest);
             return ZORBELUVerifyTimeStampTokenEx2(token, &shortDigest, 5000, nullptr, cache);
         }},
        {"policy 1: chain and CRLs", true, [cache](const ZORBELUBlob* token, const ZORBELUDigestInfoEx& digest) {
             return ZORBELUVerifyTimeStampTokenByPolicy(token, &digest, 5000, nullptr, cache, 1);
         }},
        {"policy 2: chain only", true, [](const ZORBELUBlob* token, const ZORBELUDigestInfoEx& digest) {
             return ZORBELUVerifyTimeStampTokenByPolicy(token, &digest, 5000, nullptr, nullptr, 2);
         }},
        {"policy 3: token only", false, [](const ZORBELUBlob* token, const ZORBELUDigestInfoEx& digest) {
             return ZORBELUVerifyTimeStampTokenByPolicy(token, &digest, 5000, nullptr, nullptr, 3);
         }},
    };
}

// Prints each verification's answer; true when each gave `expected`.
bool VerifyAll(const char* title, const std::string& token, const ZORBELUDigestInfoEx& digest,
               ZORBELUCRLCacheStore* cache, uint32_t expected, const std::string& language) {
    std::printf("\n%s\n", title);
    const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token.data()), static_cast<uint32_t>(token.size())};
    bool asExpected = true;
    for (const Verification& verification : Verifications(cache)) {
        const uint32_t answer = verification.run(&blob, digest);
        const uint32_t result = verification.checksChain ? ConfirmChain(answer, blob).status : answer;
        const std::string message =
            ZORBELU_IS_STATUS(result) ? LibraryText(StatusMessageId(result), language) : ErrorText(result);
        std::printf("  %-26s %u  %s\n", verification.name, result, message.c_str());
        asExpected = asExpected && result == expected;
    }
    return asExpected;
}

// Shows the outcome of the full verification of `token` against `digest`
// in the signature properties dialog; false when no dialog could be shown.
bool ShowInDialog(const char* what, const std::string& token, const ZORBELUDigestInfoEx& digest,
                  ZORBELUCRLCacheStore* cache, bool tabbed) {
    const ZORBELUBlob blob{reinterpret_cast<const uint8_t*>(token.data()), static_cast<uint32_t>(token.size())};
    const ZORBELUDigestInfo shortDigest = ShortForm(digest);
    const uint32_t status = ZORBELUVerifyTimeStampTokenEx2(&blob, &shortDigest, 5000, nullptr, cache);
    std::printf("  showing %s: %u\n", what, status);
    const uint32_t shown = ShowVerificationResult(blob, status, ZoneArgument("local"), tabbed, 5000, nullptr);
    if (shown == ZORBELU_OK) return true;
    std::fprintf(stderr, "zorbelu: the dialog: %u %s\n", shown, ErrorText(shown).c_str());
    return false;
}

}  // namespace

int DemoCommand(const Arguments& args) {
    TemporaryFolder folder;
    const std::filesystem::path stores = folder.path() / "stores";
    std::filesystem::create_directories(stores / "ROOT");
    setenv("ZORBELU_STORE_DIR", stores.c_str(), 1);
    setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);

    LoopbackServer server({});
    const DemoPki pki = MakeDemoPki(server.BaseUrl() + "/crl/demo-root.crl");
    server.Serve("/crl/demo-root.crl", pki.crlDer);
    WriteNewFile(stores / "ROOT" / "demo-root.cer", pki.rootDer);

    std::printf("zorbelu demo: a time-stamp on a document, verified offline\n");
    std::printf("  folder      %s\n", folder.path().c_str());
    std::printf("  CRL server  %s/crl/demo-root.crl\n", server.BaseUrl().c_str());
    std::printf("  root store  %s\n", (stores / "ROOT").c_str());

    const std::string document = kDocument;
    const ZORBELUDigestInfoEx digest = Sha256(document);
    const std::string token = CreateToken(pki, digest);
    WriteNewFile(folder.path() / "document.txt", document);
    WriteNewFile(folder.path() / "document.tst", token);
    std::printf("  token       %zu bytes, SHA-256 of the document\n", token.size());

    ZORBELUCRLCacheStore* cache = nullptr;
    if (ZORBELUCreateCRLCacheStore(&cache) != ZORBELU_OK) throw std::runtime_error("cannot create a CRL cache");
    const std::string language = args.get("lang");
    const bool good = VerifyAll("The document as it was time-stamped:", token, digest, cache, ZORBELU_VS_OK, language);
    std::string tampered = document;
    tampered.replace(tampered.find("1,000"), 5, "9,000");
    const bool bad = VerifyAll("The document after one figure was changed:", token, Sha256(tampered), cache,
                               ZORBELU_VS_DATA_DAMAGED, language);
    bool shown = true;
    if (args.has("gui")) {
        SelectDialogLanguage(args);
        std::printf("\nThe outcomes in the signature properties dialog (close each to go on):\n");
        shown = ShowInDialog("the document as it was time-stamped", token, digest, cache, args.has("tabbed")) &&
                ShowInDialog("the changed document", token, Sha256(tampered), cache, args.has("tabbed"));
    }
    (void)ZORBELUFreeCRLCacheStore(cache);
    if (args.has("keep")) folder.Keep();
    if (!shown) return kExitError;
    std::printf("\n%s\n", good && bad ? "demo: every answer is as expected" : "demo: an answer was not as expected");
    return good && bad ? kExitValid : kExitStatus;
}

}  // namespace zorbelu::cli
