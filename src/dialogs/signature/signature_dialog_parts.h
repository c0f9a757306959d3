// The parts that the plain and the tabbed signature properties dialogs
// share: the token information they read, the signing module row, the
// issuer box and its removal, the Details button, the title, the checks of
// their exports' arguments, and the chain of dialogs walked by the
// "View Time-Stamp for Extension of Validity" button.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "ui/dialog.h"
#include "platform/module.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

namespace signature_ids {
inline constexpr int kDetails = 1001;
inline constexpr int kModuleText = 1018;
inline constexpr int kTimeText = 1019;
inline constexpr int kServiceText = 1020;
inline constexpr int kPolicyText = 1021;
inline constexpr int kMessageText = 1046;
inline constexpr int kCompanyLabel = 1054;
inline constexpr int kCompanyLine = 1055;
inline constexpr int kLogo = 1056;
inline constexpr int kIssuerBox = 1058;
inline constexpr int kModuleLabel = 1059;
inline constexpr int kIssuerIntro = 1060;
inline constexpr int kServiceLabel = 1061;
inline constexpr int kPolicyLabel = 1062;
inline constexpr int kViewNext = 6015;
}  // namespace signature_ids

// What the pages of the tabbed dialog need of the dialog they live in.
class SignaturePageOwner {
public:
    virtual const ZORBELUBlob* Token() const = 0;
    // Closes the dialog as its OK or Cancel button would.
    virtual void CloseWithOk() = 0;
    virtual void CloseWithCancel() = 0;
    // Closes it to show the next time-stamp of the chain.
    virtual void CloseToViewNext() = 0;

protected:
    ~SignaturePageOwner() = default;
};

// Enter and Escape on a page end the dialog it lives in, as its OK and
// Cancel would; true when `key` was one of them and there is an owner.
bool CloseOwnerOnKey(SignaturePageOwner* owner, uint32_t key);

// The information record of a token, filled by the core library; zeroed
// (size set) when it cannot be read.
ZORBELTimeStampInfo ReadTokenInfo(const ZORBELUBlob* token, bool* readable = nullptr);
std::string PolicyOf(const ZORBELTimeStampInfo& info);
std::string GenerationTimeOf(const ZORBELTimeStampInfo& info);

// The signing module's name with a leading blank; empty when none is set.
std::string SigningModuleText();

// The host's resource module made current for the lifetime of the object
// when the host set one; nothing changes otherwise.
class HostResourceModuleScope {
public:
    HostResourceModuleScope();
    ~HostResourceModuleScope();
    HostResourceModuleScope(const HostResourceModuleScope&) = delete;
    HostResourceModuleScope& operator=(const HostResourceModuleScope&) = delete;

private:
    platform::HINSTANCE previous_;
    bool changed_ = false;
};

// String `id`, from the host's resource module when it set one.
std::string LoadHostString(uint32_t id);

// Moves control `id` up as the compaction of a dialog without its issuer
// box does: with D the dialog's window rectangle and R the control's, both
// on the screen, to x = R.left - D.left - 5 and y = (R.top - D.top) -
// (R.bottom - R.top) - shift in client pixels, keeping its size.
void MoveControlUp(platform::Dialog& dialog, int id, long shift);

struct ControlShift {
    int control;
    uint32_t shiftStringId;
};

// Makes the dialog shorter by the number in `heightStringId`, moves the
// controls up by the numbers in their strings and hides the issuer box.
void RemoveIssuerBox(platform::Dialog& dialog, uint32_t heightStringId, std::initializer_list<ControlShift> shifts);

// The issuer texts: a blank and the policy identifier, a blank and the
// name of the service behind it.
std::string PolicyText(const ZORBELTimeStampInfo& info);
std::string ServiceText(const ZORBELTimeStampInfo& info);

// Whether the Details button is usable: the token's information reads.
bool DetailsAvailable(const ZORBELUBlob* token);

// The token properties dialog opened by Details: the extended variant with
// the store for a dialog of a chain, the basic one otherwise. A failure is
// reported in a message box.
void ShowDetails(const ZORBELUBlob* token, ZORBELCertStore* store, bool chained);

// The title of both dialogs.
std::string VerifiedDialogTitle();

// The zone test of the display exports: kind 1 within [minOffset,
// maxOffset], any other kind a zone number of the table. 1 or 2650.
uint32_t CheckZone(const ZORBELUTimeZoneSelector& zone, int32_t minOffset, int32_t maxOffset);
inline constexpr int32_t kDisplayZoneLimit = 1440;

// The token test of the display exports for a status that needs one: a
// token, when given, passes the token check and its information reads.
uint32_t CheckShownToken(const ZORBELUBlob* token);

// What showing one dialog of a chain gave: the code (1 when it was shown
// and closed) and whether the user asked for the next one.
struct ChainStep {
    uint32_t result;
    bool viewNext;
};

// The token must carry a TSA certificate (else 1700) and a time attribute
// certificate (else 1801); what the core library delivers is not used.
uint32_t RequireCertificates(const ZORBELUBlob* token);

// Shows dialogs 0 to count - 1 one after another: `show(i, chained)` runs
// dialog i, chained for all but the last; the walk goes on only while the
// user asks for the next one. 1, or the code of a dialog that could not be
// shown.
uint32_t WalkDialogChain(uint32_t count, const std::function<ChainStep(uint32_t index, bool chained)>& show);

// Runs one dialog of a chain: the chained form (with the store of its token
// reference) or the plain one. `what` is the dialog's first constructor
// argument (the status, or the check results).
template <typename SignatureDialog, typename What>
ChainStep ShowChainEntry(bool chained, const What& what, const ZORBELUTokenRef& ref,
                         const ZORBELUTimeZoneSelector* zone, platform::HWND parent) {
    if (chained) {
        SignatureDialog dialog(what, ref.token, zone, ref.store, parent);
        if (dialog.DoModal() == -1) return {dialog.LastError(), false};
        return {ZORBELU_OK, dialog.ViewNext()};
    }
    SignatureDialog dialog(what, ref.token, zone, parent);
    if (dialog.DoModal() == -1) return {dialog.LastError(), false};
    return {ZORBELU_OK, false};
}

}  // namespace zorbelu::dialogs
