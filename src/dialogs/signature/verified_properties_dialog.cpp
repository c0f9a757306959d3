#include "dialogs/signature/verified_properties_dialog.h"

#include "dialogs/signature/signature_dialog_parts.h"
#include "dialogs/signature/signature_texts.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "verify/request_validation.h"
#include "zorbel.h"

namespace zorbelu::dialogs {
namespace {

using namespace signature_ids;

// The string ids of the compaction numbers: the dialog's height, then the
// shift of each control.
constexpr uint32_t kStringHeightCut = 5041;

bool IsShownStatus(uint32_t status) {
    return status >= ZORBELU_VS_NOT_VERIFIED && status <= ZORBELU_VS_EXTENSION_UNCONFIRMED;
}

// Statuses for which nothing about the token or zone is tested.
bool NeedsNoChecks(uint32_t status) {
    return status == ZORBELU_VS_NOT_VERIFIED || status == ZORBELU_VS_EXTENSION_UNCONFIRMED;
}

uint32_t CheckZoneArgument(const ZORBELUTimeZoneSelector* zone) {
    return zone == nullptr ? ZORBELU_OK : CheckZone(*zone, -kDisplayZoneLimit, kDisplayZoneLimit);
}

}  // namespace

CDlgVerifiedProp::CDlgVerifiedProp(uint32_t status, const ZORBELUBlob* token, const ZORBELUTimeZoneSelector* zone,
                                   platform::HWND parent)
    : platform::Dialog(kTemplateVerifiedProperties, parent),
      info_(ReadTokenInfo(token)),
      token_(token),
      zone_(zone),
      status_(status) {
    frame::SelectLanguageResources();
    RegisterHandlers();
}

CDlgVerifiedProp::CDlgVerifiedProp(uint32_t status, const ZORBELUBlob* token, const ZORBELUTimeZoneSelector* zone,
                                   ZORBELCertStore* store, platform::HWND parent)
    : platform::Dialog(kTemplateVerifiedPropertiesChained, parent),
      info_(ReadTokenInfo(token)),
      token_(token),
      zone_(zone),
      status_(status),
      store_(store),
      chained_(true) {
    frame::SelectLanguageResources();
    RegisterHandlers();
}

void CDlgVerifiedProp::RegisterHandlers() {
    using platform::Notify;
    On(kDetails, Notify::Clicked, [this] { ShowDetails(token_, store_, chained_); });
    On(kViewNext, Notify::Clicked, [this] {
        viewNext_ = true;
        OnOK();
    });
}

void CDlgVerifiedProp::DoDataExchange(platform::DataExchange& dx) {
    dx.Text(kMessageText, messageText_);
    dx.Text(kModuleText, moduleText_);
    dx.Text(kTimeText, timeText_);
    dx.Text(kPolicyText, policyText_);
    dx.Text(kServiceText, serviceText_);
}

bool CDlgVerifiedProp::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    // A failure part-way (a time that cannot be broken down, memory) leaves
    // the dialog as far as it got.
    try {
        InitializeControls();
    } catch (...) {
    }
    return true;
}

void CDlgVerifiedProp::InitializeControls() {
    moduleText_ = SigningModuleText();
    const bool moduleKnown = !moduleText_.empty();
    ShowItem(kModuleText, moduleKnown);
    ShowItem(kModuleLabel, moduleKnown);

    const StatusText status = PlainStatusText(status_);
    messageText_ = status.stringId != 0 ? LoadHostString(status.stringId) : std::string();
    timeText_ = TimeStampingTimeText(GenerationTimeOf(info_), zone_);
    for (const int picture : kStatusPictures) ShowItem(picture, picture == status.picture);

    if (ZORBELUPRVDoDisplayedTempravoLogo() == 0)
        for (const int id : {kLogo, kCompanyLabel, kCompanyLine}) ShowItem(id, false);
    ShowIssuer();
    EnableItem(kDetails, DetailsAvailable(token_));
    SetCaption(VerifiedDialogTitle());
    UpdateData(false);
}

void CDlgVerifiedProp::ShowIssuer() {
    if (ZORBELUPRVDoDisplayedIssuerInfo() == 1) {
        policyText_ = PolicyText(info_);
        serviceText_ = ServiceText(info_);
        return;
    }
    RemoveIssuerBox(*this, kStringHeightCut,
                    {{kDetails, 5042}, {platform::IDOK, 5043}, {kCompanyLabel, 5044}, {kCompanyLine, 5045}, {kIssuerBox, 5046}});
}

uint32_t ShowVerifiedProperties(platform::HWND parent, const ZORBELUBlob* token, uint32_t status) {
    if (status < ZORBELU_VS_NOT_VERIFIED || status > ZORBELU_VS_DOCUMENT_EDITED) return ZORBELU_ERR_PARAM;
    if (token == nullptr) return ZORBELU_ERR_PARAM;
    if (const uint32_t usable = verify::ValidateToken(token); usable != ZORBELU_OK) return usable;
    bool readable = false;
    (void)ReadTokenInfo(token, &readable);
    if (!readable) return ZORBELU_ERR_TOKEN_INFO;
    if (const uint32_t carried = RequireCertificates(token); carried != ZORBELU_OK) return carried;

    const ZORBELUTimeZoneSelector zone = LocalZoneSelector();
    CDlgVerifiedProp dialog(status, token, &zone, parent);
    return dialog.DoModal() == -1 ? dialog.LastError() : ZORBELU_OK;
}

uint32_t ShowVerifiedPropertiesInZone(platform::HWND parent, const ZORBELUBlob* token, uint32_t status,
                                      const ZORBELUTimeZoneSelector* zone) {
    if (!IsShownStatus(status)) return ZORBELU_ERR_PARAM;
    if (!NeedsNoChecks(status)) {
        if (const uint32_t checked = CheckShownToken(token); checked != ZORBELU_OK) return checked;
        if (const uint32_t checked = CheckZoneArgument(zone); checked != ZORBELU_OK) return checked;
    }
    CDlgVerifiedProp dialog(status, token, zone, parent);
    return dialog.DoModal() == -1 ? dialog.LastError() : ZORBELU_OK;
}

uint32_t ShowSignatureChain(platform::HWND parent, const ZORBELUSignatureEntry* entries, uint32_t count) {
    if (entries == nullptr || count < 2) return ZORBELU_ERR_PARAM;
    for (uint32_t i = 0; i < count; ++i) {
        const ZORBELUSignatureEntry& entry = entries[i];
        if (entry.tokenRef == nullptr) return ZORBELU_ERR_WINDOW;
        if (!IsShownStatus(entry.status)) return ZORBELU_ERR_PARAM;
        if (NeedsNoChecks(entry.status)) continue;
        if (const uint32_t checked = CheckShownToken(entry.tokenRef->token); checked != ZORBELU_OK) return checked;
        if (const uint32_t checked = CheckZoneArgument(entry.zone); checked != ZORBELU_OK) return checked;
    }
    return WalkDialogChain(count, [&](uint32_t i, bool chained) {
        const ZORBELUSignatureEntry& e = entries[i];
        return ShowChainEntry<CDlgVerifiedProp>(chained, e.status, *e.tokenRef, e.zone, parent);
    });
}

}  // namespace zorbelu::dialogs

extern "C" {

ZORBELU_API uint32_t ZORBELUPRVShowTimeStampTokenProp(ZORBELU_HWND parent, const ZORBELUBlob* token,
                                                      uint32_t status) {
    return zorbelu::frame::GuardedExport<uint32_t>(
        ZORBELU_ERR_EXCEPTION, [&] { return zorbelu::dialogs::ShowVerifiedProperties(parent, token, status); });
}

ZORBELU_API uint32_t ZORBELUPRVShowTimeStampTokenPropEx(ZORBELU_HWND parent, const ZORBELUBlob* token,
                                                        uint32_t status, const ZORBELUTimeZoneSelector* zone) {
    return zorbelu::frame::GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::dialogs::ShowVerifiedPropertiesInZone(parent, token, status, zone);
    });
}

ZORBELU_API uint32_t ZORBELUPRVShowSignaturePropEx2(ZORBELU_HWND parent, const ZORBELUSignatureEntry* entries,
                                                    uint32_t count) {
    return zorbelu::frame::GuardedExport<uint32_t>(
        ZORBELU_ERR_EXCEPTION, [&] { return zorbelu::dialogs::ShowSignatureChain(parent, entries, count); });
}

}  // extern "C"
