// Certificate and CRL viewing for the token properties dialog: an array of
// gathered certificates or CRLs (certs/core_store_chains.h) shown in the
// external viewer (viewer_launch.h), through the selection dialog (template
// 6047) when there are several.
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/token/viewer_launch.h"
#include "ui/dialog.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

// ---- Viewing a gathered array -----------------------------------------------------

// String ids of the error messages.
inline constexpr uint32_t kStringCertViewError = 6020;
inline constexpr uint32_t kStringCrlViewError = 6021;

// Buttons "CA Certificate" and "Certificate Revocation List": two or more
// elements open the selection dialog, one the viewer (owned by `owner`).
// A failure shows 6020 or 6021 with code 0, an exception with 1004.
void ViewGatheredArray(const ZORBELUCertBlob* array, ViewKind kind, platform::HWND owner);

// ---- The selection dialog ---------------------------------------------------------

inline constexpr uint32_t kTemplateCertCrlSelection = 6047;

namespace selection_ids {
inline constexpr int kList = 1082;
inline constexpr int kLabel = 1083;
}  // namespace selection_ids

// The list shows the array's names last element first and preselects it;
// OK opens the chosen element in the viewer and closes the dialog.
class CDlgCertCrlSel : public platform::Dialog {
public:
    // `array` (two or more elements, not owned) must outlive the dialog.
    CDlgCertCrlSel(const ZORBELUCertBlob* array, ViewKind kind, platform::HWND parent = nullptr);

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void OnViewSelected();

    const ZORBELUCertBlob* array_;
    std::string label_;
    ViewKind kind_;
};

// The name an element is listed under: the common name of a certificate's
// subject or of a CRL's issuer (at most 255 bytes); "" when it does not
// decode or has none.
std::string ListedName(const ZORBELUCertBlob& element, ViewKind kind);

}  // namespace zorbelu::dialogs
