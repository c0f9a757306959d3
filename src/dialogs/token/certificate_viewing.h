// Certificate and CRL viewing for the token properties dialog: the CA chain
// and the CRLs gathered from the caller's core certificate store when the
// dialog opens, the external viewer a certificate or CRL is shown in, and
// the selection dialog (template 6047) for an array of several.
//
// Gathered arrays are new[] arrays of ZORBELUCertBlob ended by an all-zero
// element, each element's bytes a new[] copy; ZORBELUFreeCertificates (or
// CertBlobArray) releases them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

// What is shown: selects the viewer command, the file extension and the
// error message. The values are the selection dialog's kind word.
enum class ViewKind : uint32_t { Crl = 0, Certificate = 1 };

struct CertBlobArrayFree {
    void operator()(ZORBELUCertBlob* array) const noexcept;
};
using CertBlobArray = std::unique_ptr<ZORBELUCertBlob, CertBlobArrayFree>;

// ---- Gathering --------------------------------------------------------------------

// The chain above `cert` out of the store's CA list, from its issuer up to a
// self-signed certificate, each list position taken at most once. 1 and the
// array for a complete chain; else `*out` stays NULL and the result is 1600
// (store NULL or not marked 16), 1700 (cert NULL), 1601 (cert undecodable or
// its issuer unreadable) or 1605 (no complete chain).
[[nodiscard]] uint32_t BuildCAChainForCert(const ZORBELCertStore* store, const ZORBELUCertBlob* cert,
                                           ZORBELUCertBlob** out);

// The first CRL of `store` whose issuer is the issuer of `cert`, added to
// `scratch`. 1 when ZORBELAddCRL accepted it; 1600 (a store NULL), 1601
// (cert undecodable or its names unreadable), 1605 (self-signed cert, no
// such CRL, or the CRL refused).
[[nodiscard]] uint32_t AddCRLOfIssuer(const ZORBELUCertBlob* cert, const ZORBELCertStore* store,
                                      ZORBELCertStore* scratch);

// The CRL of the issuer of `cert`, then one for each element of `caArray`
// (may be NULL) up to the first without one. 1 and the array; else `*out`
// stays NULL and the result is 1600, 1700, 1005 (no scratch store) or what
// AddCRLOfIssuer gave for `cert` itself.
[[nodiscard]] uint32_t CollectCRLsForChain(const ZORBELCertStore* store, const ZORBELUCertBlob* cert,
                                           const ZORBELUCertBlob* caArray, ZORBELUCertBlob** out);

// `element` becomes a private copy of the node's bytes, length and encoding.
void CopyCertBlob(const ZORBELCertNode& node, ZORBELUCertBlob& element);

// ---- The viewer -------------------------------------------------------------------

// The environment variables that replace the viewer command of a kind.
inline constexpr const char* kCertViewerVariable = "ZORBELU_CERT_VIEWER";
inline constexpr const char* kCrlViewerVariable = "ZORBELU_CRL_VIEWER";
// Our own viewer (src/dialogs/token/cert_viewer), the default of both kinds.
inline constexpr const char* kOwnViewerName = "zorbelu-cert-viewer";
// The viewer is handed the number of a descriptor in this variable; a byte
// written to it (or its closing) tells that the window is up.
inline constexpr const char* kViewerReadyVariable = "ZORBELU_VIEWER_READY_FD";
// How long a launch waits for that at most.
inline constexpr int kViewerReadyWaitMs = 5000;
// Where the owner window stands ("x,y,width,height"), for the viewer to
// centre its window over it.
inline constexpr const char* kViewerCenterVariable = "ZORBELU_VIEWER_CENTER";

// The command prefix of a kind, ending in one space: the variable's value
// when set and not blank; else our viewer beside the library
// (<library dir>/../bin), else on the PATH, else xdg-open.
std::string ViewerCommandPrefix(ViewKind kind);

// The fixed temporary file of a kind: $TMPDIR (when absolute) else /tmp,
// then "zorbelutil-<uid>" and ".cer" or ".crl". Every launch of the kind
// overwrites it.
std::string ViewerTemporaryFile(ViewKind kind);

// The command line as the viewer gets it: the prefix and directly the file
// name, no quotes.
std::string ViewerCommandLine(std::string_view prefix, std::string_view fileName);

// The words of a command prefix: split at blanks; '...' and "..." group a
// word and are removed. The file name is always one more word of its own, so
// a temporary folder with spaces reaches the viewer in one piece.
std::vector<std::string> SplitCommandWords(std::string_view prefix);

// Writes the bytes to the kind's temporary file and starts the viewer on it,
// waiting (at most kViewerReadyWaitMs) until it shows its window. 1 when the
// process was started, else 0 (nothing to write, file not writable, no such
// program). The viewer runs on by itself; the file stays.
uint32_t LaunchCertViewer(const uint8_t* data, uint32_t length, ViewKind kind, platform::HWND owner);

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
