// The tabbed "Signature Properties" dialog: the overall status with the
// result of each certificate check on a line of its own, and the token's
// comparison and export. Three pages in a tab control: the verification
// results (template 1020), their details (1021) and comparison and export
// (6030), inside template 1019. Export: ZORBELUPRVShowSignaturePropEx3.
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/signature/signature_dialog_parts.h"
#include "dialogs/signature/signature_texts.h"
#include "dialogs/signature/token_comparison.h"
#include "ui/dialog.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

inline constexpr uint32_t kTemplateVerifiedPropertiesTabbed = 1019;
inline constexpr uint32_t kTemplateStatusPage = 1020;
inline constexpr uint32_t kTemplateDetailsPage = 1021;

namespace tabbed_ids {
inline constexpr int kTabs = 1077;
inline constexpr int kIntegrityLine = 1076;
inline constexpr int kRevocationLine = 1077;  // on the details page
inline constexpr int kValidityLine = 1078;
inline constexpr int kRootLine = 1079;
}  // namespace tabbed_ids

// The status page.
class CDlgVstat : public platform::Dialog {
public:
    CDlgVstat();
    void SetOwner(SignaturePageOwner* owner) { owner_ = owner; }
    void SetModuleText(std::string text) { moduleText_ = std::move(text); }
    void SetMessageText(std::string text) { messageText_ = std::move(text); }
    void SetTimeText(std::string text) { timeText_ = std::move(text); }

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;
    bool OnKey(uint32_t key, int focusId) override;

private:
    SignaturePageOwner* owner_ = nullptr;
    std::string messageText_;
    std::string moduleText_;
    std::string timeText_;
};

// The details page: one line for the token's integrity and one for each
// check of the TSA certificate.
class CDlgDetailedVstat : public platform::Dialog {
public:
    CDlgDetailedVstat();
    void SetOwner(SignaturePageOwner* owner) { owner_ = owner; }

protected:
    bool OnKey(uint32_t key, int focusId) override;

private:
    SignaturePageOwner* owner_ = nullptr;
};

class CDlgVerifiedPropEx : public platform::Dialog, public SignaturePageOwner {
public:
    CDlgVerifiedPropEx(const CheckResults& results, const ZORBELUBlob* token, const ZORBELUTimeZoneSelector* zone,
                       platform::HWND parent);
    // Chained form; `store` is handed to the token properties dialog.
    CDlgVerifiedPropEx(const CheckResults& results, const ZORBELUBlob* token, const ZORBELUTimeZoneSelector* zone,
                       ZORBELCertStore* store, platform::HWND parent);

    bool ViewNext() const { return viewNext_; }
    // Selects tab `index` as a click on it would.
    void SelectTab(int index);

    const ZORBELUBlob* Token() const override { return token_; }
    void CloseWithOk() override { OnOK(); }
    void CloseWithCancel() override { OnCancel(); }
    void CloseToViewNext() override;

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void RegisterHandlers();
    void CreatePages();
    void InitializeControls();
    void FillDetailsAndSummary();
    void AddTabsAndPlacePages();
    void ShowIssuer();
    void OnTabChanged();

    std::string policyText_;
    std::string serviceText_;
    ZORBELTimeStampInfo info_{};
    const ZORBELUBlob* token_;
    const ZORBELUTimeZoneSelector* zone_;
    CheckResults results_;
    ZORBELCertStore* store_ = nullptr;
    bool viewNext_ = false;
    bool chained_ = false;
    CDlgVstat statusPage_;
    CDlgDetailedVstat detailsPage_;
    CDlgCompareTST comparePage_;
    std::string summary_;
};

// The export's work: 1 once the chain was shown and closed, else the code
// of the first rule broken.
uint32_t ShowTabbedSignatureChain(platform::HWND parent, const ZORBELUSignatureEntryEx* entries, uint32_t count);

}  // namespace zorbelu::dialogs
