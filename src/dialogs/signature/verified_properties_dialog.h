// The "Signature Properties" dialog: the outcome of one time-stamp
// verification as the caller gives it (a status picture and message), the
// time-stamping time in a chosen zone, the signing module, the issuing
// service and a Details button to the token's properties. The dialog
// verifies nothing itself.
//
// Plain form: template 1058; chained form: template 6019, which adds the
// button that moves on to the time-stamp extending this one's validity.
// Exports: ZORBELUPRVShowTimeStampTokenProp, ZORBELUPRVShowTimeStampTokenPropEx
// and ZORBELUPRVShowSignaturePropEx2.
#pragma once

#include <cstdint>
#include <string>

#include "ui/dialog.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

inline constexpr uint32_t kTemplateVerifiedProperties = 1058;
inline constexpr uint32_t kTemplateVerifiedPropertiesChained = 6019;

class CDlgVerifiedProp : public platform::Dialog {
public:
    // `token` and `zone` (either may be NULL) must outlive the dialog.
    CDlgVerifiedProp(uint32_t status, const ZORBELUBlob* token, const ZORBELUTimeZoneSelector* zone,
                     platform::HWND parent);
    // Chained form; `store` is handed to the token properties dialog.
    CDlgVerifiedProp(uint32_t status, const ZORBELUBlob* token, const ZORBELUTimeZoneSelector* zone,
                     ZORBELCertStore* store, platform::HWND parent);

    // Set when the user closed the dialog to see the next time-stamp.
    bool ViewNext() const { return viewNext_; }

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void RegisterHandlers();
    void InitializeControls();
    void ShowIssuer();

    std::string messageText_;
    std::string moduleText_;
    std::string timeText_;
    std::string policyText_;
    std::string serviceText_;
    ZORBELTimeStampInfo info_{};
    const ZORBELUBlob* token_;
    const ZORBELUTimeZoneSelector* zone_;
    uint32_t status_;
    ZORBELCertStore* store_ = nullptr;
    bool viewNext_ = false;
    bool chained_ = false;
};

// The exports' work. Each returns 1 once the dialog (or chain) was shown
// and closed, or the code of the first rule broken; exceptions pass to the
// export's guard.
uint32_t ShowVerifiedProperties(platform::HWND parent, const ZORBELUBlob* token, uint32_t status);
uint32_t ShowVerifiedPropertiesInZone(platform::HWND parent, const ZORBELUBlob* token, uint32_t status,
                                      const ZORBELUTimeZoneSelector* zone);
uint32_t ShowSignatureChain(platform::HWND parent, const ZORBELUSignatureEntry* entries, uint32_t count);

}  // namespace zorbelu::dialogs
