#include "dialog_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "reasons.h"
#include "token_commands.h"
#include "trust_check.h"

#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {


namespace {

struct StoreFree {
    void operator()(ZORBELCertStore* store) const { (void)ZORBELFreeCertStore(store); }
};
using StorePtr = std::unique_ptr<ZORBELCertStore, StoreFree>;

struct ArrayFree {
    void operator()(ZORBELUCertBlob* array) const { (void)ZORBELUFreeCertificates(&array); }
};
using ArrayPtr = std::unique_ptr<ZORBELUCertBlob, ArrayFree>;

// A core store with the CA certificates and CRLs gathered for the token
// (system stores, caIssuers and CRL downloads); what could be gathered even
// when the gathering stopped early. NULL when no store could be made.
StorePtr StoreFromToken(const ZORBELUBlob& token, uint32_t timeout, const ZORBELUProxyInfo* proxy, uint32_t* gathered) {
    ZORBELUBlob tsaCert{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    *gathered = ZORBELUGetCertificates(&token, static_cast<int32_t>(timeout), proxy, &tsaCert, &cas, &crls);
    const ArrayPtr caArray(*gathered == ZORBELU_OK ? cas : nullptr);
    const ArrayPtr crlArray(*gathered == ZORBELU_OK ? crls : nullptr);
    StorePtr store(ZORBELCreateCertStore());
    if (!store) return nullptr;
    for (const ZORBELUCertBlob* item = caArray.get(); item != nullptr && item->data != nullptr; ++item)
        (void)ZORBELAddCACert(store.get(), item);
    for (const ZORBELUCertBlob* item = crlArray.get(); item != nullptr && item->data != nullptr; ++item)
        (void)ZORBELAddCRL(store.get(), item);
    return store;
}

// The status the tabbed dialog shows beside the three verdicts: the token's
// integrity alone, since certificate problems are the verdicts' to tell.
uint32_t IntegrityStatus(uint32_t status) {
    return status == ZORBELU_VS_DATA_DAMAGED || status == ZORBELU_VS_DOCUMENT_EDITED ? status : ZORBELU_VS_OK;
}

ZORBELUTSACertResult JudgeTsaCertificate(const ZORBELUBlob& token, uint32_t timeout, const ZORBELUProxyInfo* proxy) {
    ZORBELUTSACertResult verdicts{ZORBELU_VS_CERT_EXPIRED, ZORBELU_VS_CRL_UNAVAILABLE, ZORBELU_VS_ROOT_UNAVAILABLE};
    std::optional<std::string> der = TsaCertificateOf(token);
    if (!der) return verdicts;
    ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(der->data()), static_cast<uint32_t>(der->size()),
                         ZORBELU_ENCODING_DER};
    (void)ZORBELUVerifyTSACertificate(&cert, nullptr, static_cast<int32_t>(timeout), proxy, &verdicts);
    (void)ConfirmChainVerdict(*der, &verdicts);
    return verdicts;
}

}  // namespace

ZORBELUTimeZoneSelector ZoneArgument(const std::string& text) {
    if (text.empty() || text == "local") {
        tzset();
        const time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return {ZORBELU_TIME_ZONE_FIXED_OFFSET, static_cast<int32_t>(local.tm_gmtoff / 60)};
    }
    if (text == "utc" || text == "UTC") return {ZORBELU_TIME_ZONE_FIXED_OFFSET, 0};
    int hours = 0, minutes = 0;
    char sign = 0, end = 0;
    if (std::sscanf(text.c_str(), "%c%2d:%2d%c", &sign, &hours, &minutes, &end) == 3 && (sign == '+' || sign == '-') &&
        minutes < 60)
        return {ZORBELU_TIME_ZONE_FIXED_OFFSET, (sign == '-' ? -1 : 1) * (hours * 60 + minutes)};
    for (uint32_t id = 2; id < 64; ++id) {
        ZORBELUTimeZoneInfo row{};
        if (ZORBELUGetTimeZoneInfo(id, &row) == ZORBELU_OK && text == row.abbreviation) return {id, 0};
    }
    throw UsageError("--zone takes local, utc, +HH:MM, -HH:MM or a zone such as JST");
}

uint32_t ShowVerificationResult(const ZORBELUBlob& token, uint32_t status, const ZORBELUTimeZoneSelector& zone,
                                bool tabbed, uint32_t timeout, const ZORBELUProxyInfo* proxy) {
    if (!tabbed) return ZORBELUPRVShowTimeStampTokenPropEx(nullptr, &token, status, &zone);
    const ZORBELUTSACertResult verdicts = JudgeTsaCertificate(token, timeout, proxy);
    const ZORBELUTokenRef ref{&token, nullptr};
    const ZORBELUSignatureEntryEx entry{IntegrityStatus(status), verdicts.validity, verdicts.revocation,
                                        verdicts.chain, &ref, &zone};
    return ZORBELUPRVShowSignaturePropEx3(nullptr, &entry, 1);
}

void SelectDialogLanguage(const Arguments& args) {
    if (args.has("lang") && ZORBELUSetLanguage(args.get("lang").c_str()) != ZORBELU_OK)
        throw UsageError("language code of three letters expected");
}

int ShowCommand(const Arguments& args) {
    const Token token = LoadToken(args);
    SelectDialogLanguage(args);
    const auto info = ReadInfo(token);
    const ZORBELUDigestInfoEx digest = DataDigest(args, info);
    const ZORBELUTimeZoneSelector zone = ZoneArgument(args.get("zone"));
    const uint32_t timeout = TimeoutOption(args);
    const ZORBELUProxyInfo proxy = Connection(args);
    const ZORBELUBlob blob = token.blob();
    CheckedStatus checked{0, ""};
    {
        Progress progress;
        // The full verification; digests longer than its record's go
        // through the by-policy form, which checks the chain too.
        const ZORBELUDigestInfo shortDigest = ShortDigest(digest);
        const uint32_t answer = digest.digestLength <= sizeof shortDigest.digest
                                    ? ZORBELUVerifyTimeStampTokenEx2(&blob, &shortDigest, timeout, &proxy, nullptr)
                                    : ZORBELUVerifyTimeStampTokenEx3(&blob, &digest, timeout, &proxy, nullptr);
        checked = ConfirmChain(answer, blob);
    }
    if (checked.why.empty() && checked.status != ZORBELU_VS_OK)
        checked.why = VerificationReason(checked.status, blob, digest, timeout, &proxy);
    const uint32_t status = checked.status;
    const bool isStatus = ZORBELU_IS_STATUS(status);
    std::printf("%u %s\n", status,
                isStatus ? LibraryText(StatusMessageId(status), args.get("lang")).c_str() : ErrorText(status).c_str());
    if (!checked.why.empty()) std::printf("why:        %s\n", checked.why.c_str());
    if (!isStatus) return kExitError;
    const uint32_t shown = ShowVerificationResult(blob, status, zone, args.has("tabbed"), timeout, &proxy);
    if (shown != ZORBELU_OK) {
        std::fprintf(stderr, "zorbelu: the dialog: %u %s%s\n", shown, ErrorText(shown).c_str(),
                     shown == ZORBELU_ERR_EXCEPTION ? " (no display, or the GTK dialog module is missing)" : "");
        return kExitError;
    }
    return status == ZORBELU_VS_OK ? kExitValid : kExitStatus;
}

int TokenDialogCommand(const Arguments& args) {
    const Token bytes = LoadToken(args);
    SelectDialogLanguage(args);
    const ZORBELUBlob token = bytes.blob();

    uint32_t result = 0;
    if (args.has("store-from-token")) {
        uint32_t gathered = 0;
        const ZORBELUProxyInfo proxy = Connection(args);
        const StorePtr store = StoreFromToken(token, TimeoutOption(args), &proxy, &gathered);
        if (gathered != ZORBELU_OK)
            std::fprintf(stderr, "zorbelu: gathering the chain: %u %s (the dialog shows what there is)\n", gathered,
                         ErrorText(gathered).c_str());
        if (!store) {
            std::fprintf(stderr, "zorbelu: no certificate store could be made\n");
            return kExitError;
        }
        result = ZORBELUShowTimeStampTokenPropEx2(nullptr, &token, store.get());
    } else {
        result = ZORBELUShowTimeStampTokenProp(nullptr, &token);
    }
    if (result == ZORBELU_OK) return kExitValid;
    std::fprintf(stderr, "zorbelu: %u %s%s\n", result, ErrorText(result).c_str(),
                 result == ZORBELU_ERR_EXCEPTION ? " (no display, or the GTK dialog module is missing)" : "");
    return kExitError;
}

}  // namespace zorbelu::cli
