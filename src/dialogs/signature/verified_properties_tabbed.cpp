#include "dialogs/signature/verified_properties_tabbed.h"

#include "frame/module_state.h"
#include "frame/resource_text.h"

namespace zorbelu::dialogs {
namespace {

using namespace signature_ids;
using namespace tabbed_ids;

enum Tab { kTabStatus = 0, kTabDetails = 1, kTabCompare = 2 };

constexpr uint32_t kTabTexts[] = {5066, 5067, 6040};
// The place of the pages in the dialog's client area: x, y, width, height.
constexpr uint32_t kPagePlacementStrings[] = {5071, 5072, 5073, 5074};
constexpr uint32_t kStringHeightCut = 5051;

bool IsTabbedStatus(uint32_t status) {
    if (status < ZORBELU_VS_NOT_VERIFIED || status > ZORBELU_VS_EXTENSION_UNCONFIRMED) return false;
    // Certificate problems come as the three check results, not as a status.
    return status < ZORBELU_VS_CERT_EXPIRED || status > ZORBELU_VS_CERT_UNTRUSTED;
}

}  // namespace

// ---- Status page -----------------------------------------------------------------

CDlgVstat::CDlgVstat() : platform::Dialog(kTemplateStatusPage) {
    On(kViewNext, platform::Notify::Clicked, [this] {
        if (owner_ != nullptr) owner_->CloseToViewNext();
    });
}

void CDlgVstat::DoDataExchange(platform::DataExchange& dx) {
    dx.Text(kMessageText, messageText_);
    dx.Text(kModuleText, moduleText_);
    dx.Text(kTimeText, timeText_);
}

bool CDlgVstat::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    if (ZORBELUPRVDoDisplayedTempravoLogo() == 0) ShowItem(kLogo, false);
    return false;
}

bool CDlgVstat::OnKey(uint32_t key, int focusId) {
    if (owner_ != nullptr && key == platform::kKeyReturn && focusId == kViewNext) {
        owner_->CloseToViewNext();
        return true;
    }
    return CloseOwnerOnKey(owner_, key);
}

// ---- Details page ----------------------------------------------------------------

CDlgDetailedVstat::CDlgDetailedVstat() : platform::Dialog(kTemplateDetailsPage) {}

bool CDlgDetailedVstat::OnKey(uint32_t key, int) { return CloseOwnerOnKey(owner_, key); }

// ---- The dialog --------------------------------------------------------------------

CDlgVerifiedPropEx::CDlgVerifiedPropEx(const CheckResults& results, const ZORBELUBlob* token,
                                       const ZORBELUTimeZoneSelector* zone, platform::HWND parent)
    : platform::Dialog(kTemplateVerifiedPropertiesTabbed, parent),
      info_(ReadTokenInfo(token)),
      token_(token),
      zone_(zone),
      results_(results) {
    frame::SelectLanguageResources();
    RegisterHandlers();
}

CDlgVerifiedPropEx::CDlgVerifiedPropEx(const CheckResults& results, const ZORBELUBlob* token,
                                       const ZORBELUTimeZoneSelector* zone, ZORBELCertStore* store,
                                       platform::HWND parent)
    : CDlgVerifiedPropEx(results, token, zone, parent) {
    store_ = store;
    chained_ = true;
}

void CDlgVerifiedPropEx::RegisterHandlers() {
    using platform::Notify;
    On(kTabs, Notify::SelectionChanged, [this] { OnTabChanged(); });
    On(kDetails, Notify::Clicked, [this] { ShowDetails(token_, store_, chained_); });
}

void CDlgVerifiedPropEx::CloseToViewNext() {
    viewNext_ = true;
    OnOK();
}

void CDlgVerifiedPropEx::DoDataExchange(platform::DataExchange& dx) {
    dx.Text(kPolicyText, policyText_);
    dx.Text(kServiceText, serviceText_);
}

bool CDlgVerifiedPropEx::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    CreatePages();
    // A failure part-way leaves the dialog as far as it got, with the
    // resource module restored by the scopes on the way out.
    try {
        InitializeControls();
    } catch (...) {
    }
    return true;
}

void CDlgVerifiedPropEx::CreatePages() {
    statusPage_.CreatePage(*this);
    detailsPage_.CreatePage(*this);
    comparePage_.CreatePage(*this);
    statusPage_.SetOwner(this);
    detailsPage_.SetOwner(this);
    comparePage_.SetOwner(this);
}

void CDlgVerifiedPropEx::InitializeControls() {
    const std::string module = SigningModuleText();
    statusPage_.SetModuleText(module);
    statusPage_.ShowItem(kModuleText, !module.empty());
    statusPage_.ShowItem(kModuleLabel, !module.empty());
    statusPage_.UpdateData(false);
    {
        HostResourceModuleScope hostStrings;
        FillDetailsAndSummary();
        const int picture = TabbedStatusPicture(results_);
        for (const int id : kStatusPictures) statusPage_.ShowItem(id, id == picture);
        statusPage_.SetMessageText(summary_);
        AddTabsAndPlacePages();
    }
    statusPage_.SetTimeText(TimeStampingTimeText(GenerationTimeOf(info_), zone_));
    statusPage_.UpdateData(false);

    if (ZORBELUPRVDoDisplayedTempravoLogo() == 0)
        for (const int id : {kCompanyLabel, kCompanyLine}) ShowItem(id, false);
    ShowIssuer();

    const bool details = DetailsAvailable(token_);
    EnableItem(kDetails, details);
    if (!details) {
        // Without readable information there is nothing to compare or save;
        // Compare stays off too, as only Choose turns it on.
        comparePage_.EnableItem(compare_ids::kChoose, false);
        comparePage_.EnableItem(compare_ids::kExport, false);
    }
    SetCaption(VerifiedDialogTitle());

    statusPage_.ShowItem(kViewNext, chained_);
    SetCurSel(kTabs, kTabStatus);
    statusPage_.ShowWindow(true);
    UpdateData(false);
}

void CDlgVerifiedPropEx::FillDetailsAndSummary() {
    const auto line = [](uint32_t id) { return id != 0 ? frame::LoadResourceString(id) : std::string(); };
    const std::string integrity = line(IntegrityLineId(results_.status));
    const std::string validity = line(ValidityLineId(results_.validity));
    const std::string revocation = line(RevocationLineId(results_.revocation));
    const std::string root = line(RootLineId(results_.root));
    detailsPage_.SetItemText(kIntegrityLine, integrity);
    detailsPage_.SetItemText(kValidityLine, validity);
    detailsPage_.SetItemText(kRevocationLine, revocation);
    detailsPage_.SetItemText(kRootLine, root);
    summary_ = SummaryText(integrity, results_, validity, revocation, root);
}

void CDlgVerifiedPropEx::AddTabsAndPlacePages() {
    for (const uint32_t id : kTabTexts) AddItem(kTabs, frame::LoadResourceString(id));
    long place[4] = {};
    for (int i = 0; i < 4; ++i) place[i] = StringTableNumber(kPagePlacementStrings[i]);
    const platform::PixelRect rect{static_cast<int>(place[0]), static_cast<int>(place[1]), static_cast<int>(place[2]),
                                   static_cast<int>(place[3])};
    statusPage_.MoveWindow(rect);
    detailsPage_.MoveWindow(rect);
    comparePage_.MoveWindow(rect);
}

void CDlgVerifiedPropEx::ShowIssuer() {
    if (ZORBELUPRVDoDisplayedIssuerInfo() == 1) {
        policyText_ = PolicyText(info_);
        serviceText_ = ServiceText(info_);
        UpdateData(false);
        return;
    }
    RemoveIssuerBox(*this, kStringHeightCut, {{kDetails, 5052}, {platform::IDOK, 5053}, {kCompanyLabel, 5054}, {kCompanyLine, 5055}});
}

void CDlgVerifiedPropEx::SelectTab(int index) {
    if (SetCurSel(kTabs, index)) OnTabChanged();
}

void CDlgVerifiedPropEx::OnTabChanged() {
    const int selected = GetCurSel(kTabs);
    if (selected < kTabStatus || selected > kTabCompare) return;
    statusPage_.ShowWindow(selected == kTabStatus);
    detailsPage_.ShowWindow(selected == kTabDetails);
    comparePage_.ShowWindow(selected == kTabCompare);
    const int focus = GetFocusId();
    if (focus != kDetails && focus != platform::IDOK) SetFocusTo(platform::IDOK);
}

uint32_t ShowTabbedSignatureChain(platform::HWND parent, const ZORBELUSignatureEntryEx* entries, uint32_t count) {
    if (entries == nullptr || count < 1) return ZORBELU_ERR_PARAM;
    for (uint32_t i = 0; i < count; ++i) {
        const ZORBELUSignatureEntryEx& entry = entries[i];
        if (entry.tokenRef == nullptr) return ZORBELU_ERR_WINDOW;
        if (!IsTabbedStatus(entry.status)) return ZORBELU_ERR_PARAM;
        if (entry.status == ZORBELU_VS_NOT_VERIFIED || entry.status == ZORBELU_VS_EXTENSION_UNCONFIRMED) continue;
        if (const uint32_t checked = CheckShownToken(entry.tokenRef->token); checked != ZORBELU_OK) return checked;
        if (entry.zone != nullptr) {
            if (const uint32_t checked = CheckZone(*entry.zone, -kDisplayZoneLimit, kDisplayZoneLimit);
                checked != ZORBELU_OK)
                return checked;
        }
    }
    return WalkDialogChain(count, [&](uint32_t i, bool chained) {
        const ZORBELUSignatureEntryEx& e = entries[i];
        const CheckResults results{e.status, e.validityResult, e.revocationResult, e.rootResult};
        return ShowChainEntry<CDlgVerifiedPropEx>(chained, results, *e.tokenRef, e.zone, parent);
    });
}

}  // namespace zorbelu::dialogs

extern "C" ZORBELU_API uint32_t ZORBELUPRVShowSignaturePropEx3(ZORBELU_HWND parent,
                                                               const ZORBELUSignatureEntryEx* entries,
                                                               uint32_t count) {
    return zorbelu::frame::GuardedExport<uint32_t>(
        ZORBELU_ERR_EXCEPTION, [&] { return zorbelu::dialogs::ShowTabbedSignatureChain(parent, entries, count); });
}
