// Verify a token and show the outcome in the signature properties dialog
// with one call, or show the token unverified (status 2500).
#include "dialogs/signature/signature_dialog_parts.h"
#include "dialogs/signature/verified_properties_dialog.h"
#include "frame/module_state.h"
#include "ui/windows.h"
#include "verify/full_verification.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {
namespace {

// The zone of the verify-then-show exports: the offsets in use on Earth.
constexpr int32_t kEarliestZoneOffset = -720;
constexpr int32_t kLatestZoneOffset = 840;

bool IsValidVerifyFlag(int32_t flag) { return flag == 0 || flag == 1; }

bool IsDisplayedStatus(uint32_t status) {
    return status >= ZORBELU_VS_NOT_VERIFIED && status <= ZORBELU_VS_DOCUMENT_EDITED;
}

// What the dialog of the zone-taking exports needs of the token before a
// verification is shown: 1 or the reason it cannot be.
uint32_t CheckTokenForDisplay(const ZORBELUBlob* token) {
    if (token == nullptr || token->length == 0 || token->data == nullptr) return ZORBELU_ERR_PARAM;
    bool readable = false;
    (void)ReadTokenInfo(token, &readable);
    if (!readable) return ZORBELU_ERR_TOKEN_INFO;
    return RequireCertificates(token);
}

// The steps shared by the zone-taking exports; `verify` runs the
// verification of each.
template <typename Verify>
uint32_t VerifyAndShowInZone(platform::HWND parent, int32_t verifyFlag, const ZORBELUBlob* token,
                             const ZORBELUTimeZoneSelector* zone, Verify&& verify) {
    if (!IsValidVerifyFlag(verifyFlag) || zone == nullptr) return ZORBELU_ERR_PARAM;
    if (CheckZone(*zone, kEarliestZoneOffset, kLatestZoneOffset) != ZORBELU_OK) return ZORBELU_ERR_TIME_ZONE;
    uint32_t local = CheckTokenForDisplay(token);
    const uint32_t status = verifyFlag == 0 ? ZORBELU_VS_NOT_VERIFIED : verify();
    if (!IsDisplayedStatus(status)) local = status;
    if (verifyFlag == 1 && local != ZORBELU_OK) return local;
    const uint32_t shown = ShowVerifiedPropertiesInZone(parent, token, status, zone);
    return shown == ZORBELU_OK ? status : shown;
}

uint32_t VerifyAndShow(platform::HWND parent, int32_t verifyFlag, const ZORBELUBlob* token,
                       const ZORBELUDigestInfo* digest, ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                       const ZORBELUProxyInfo* proxy) {
    if (!IsValidVerifyFlag(verifyFlag)) return ZORBELU_ERR_PARAM;
    const uint32_t status = verifyFlag == 0 ? ZORBELU_VS_NOT_VERIFIED
                                            : ZORBELUPRVVerifyTimeStampTokenEx2(token, digest, nullptr, crlBuffer,
                                                                                timeLimit, proxy);
    // A result of 1 goes on to the display, which refuses it.
    if (!IsDisplayedStatus(status) && status != ZORBELU_OK) return status;
    const uint32_t shown = ShowVerifiedProperties(parent, token, status);
    return shown == ZORBELU_OK ? status : shown;
}

}  // namespace
}  // namespace zorbelu::dialogs

using zorbelu::frame::GuardedExport;

extern "C" {

ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerification(ZORBELU_HWND parent, int32_t verifyFlag,
                                                                   const ZORBELUBlob* token,
                                                                   const ZORBELUDigestInfo* digest,
                                                                   ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit) {
    return GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        // Direct connections without credentials, asked for by the window in front.
        ZORBELUProxyInfo direct{};
        direct.proxyMode = 0;
        direct.credentialMode = 1;
        direct.ownerWindow = zorbelu::platform::GetActiveWindow();
        return zorbelu::dialogs::VerifyAndShow(parent, verifyFlag, token, digest, crlBuffer, timeLimit, &direct);
    });
}

ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerificationEx(ZORBELU_HWND parent, int32_t verifyFlag,
                                                                     const ZORBELUBlob* token,
                                                                     const ZORBELUDigestInfo* digest,
                                                                     ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                                                                     const ZORBELUProxyInfo* proxy) {
    return GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::dialogs::VerifyAndShow(parent, verifyFlag, token, digest, crlBuffer, timeLimit, proxy);
    });
}

ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerificationEx2(
    ZORBELU_HWND parent, int32_t verifyFlag, const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
    const ZORBELUTimeZoneSelector* zone, uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
    ZORBELUCRLCacheStore* crlCache) {
    return GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::dialogs::VerifyAndShowInZone(parent, verifyFlag, token, zone, [&] {
            return zorbelu::verify::VerifyTimeStampTokenFull(token, digest, digest, crlCache, timeLimit, proxy);
        });
    });
}

ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerificationEx3(
    ZORBELU_HWND parent, int32_t verifyFlag, const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
    const ZORBELUTimeZoneSelector* zone, uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
    ZORBELUCRLCacheStore* crlCache) {
    return GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::dialogs::VerifyAndShowInZone(parent, verifyFlag, token, zone, [&] {
            return zorbelu::verify::VerifyTimeStampTokenByPolicy(token, digest, digest, crlCache, timeLimit, proxy,
                                                                 zorbelu::verify::kPolicyChainAndCrls);
        });
    });
}

}  // extern "C"
