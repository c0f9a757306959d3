#include "dialogs/signature/signature_dialog_parts.h"

#include <cstring>
#include <vector>

#include "dialogs/signature/signature_texts.h"
#include "dialogs/token/display_format.h"
#include "dialogs/token/token_properties_dialog.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/module.h"
#include "ui/message_box.h"
#include "util/time_zones.h"
#include "verify/request_validation.h"
#include "zorbel.h"

namespace zorbelu::dialogs {
namespace {

constexpr uint32_t kModuleNameSize = 256;
constexpr uint32_t kCertificateBufferSize = 10000;
// The left edge of a moved control comes 5 pixels nearer the dialog's.
constexpr int kMoveLeft = 5;

}  // namespace

bool CloseOwnerOnKey(SignaturePageOwner* owner, uint32_t key) {
    if (owner == nullptr) return false;
    if (key == platform::kKeyReturn) {
        owner->CloseWithOk();
        return true;
    }
    if (key == platform::kKeyEscape) {
        owner->CloseWithCancel();
        return true;
    }
    return false;
}

ZORBELTimeStampInfo ReadTokenInfo(const ZORBELUBlob* token, bool* readable) {
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    const bool ok = ZORBELGetTimeStampInfoEx(token, &info) == ZORBELU_OK;
    if (!ok) {
        info = ZORBELTimeStampInfo{};
        info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    }
    if (readable != nullptr) *readable = ok;
    return info;
}

std::string PolicyOf(const ZORBELTimeStampInfo& info) { return RecordText(info.policyOid); }
std::string GenerationTimeOf(const ZORBELTimeStampInfo& info) { return RecordText(info.genTime); }

std::string SigningModuleText() {
    char name[kModuleNameSize] = {};
    if (ZORBELUPRVGetModuleName(name, sizeof name, ZORBELU_PRIVATE_CALLER_CODE) != ZORBELU_OK || name[0] == '\0')
        return {};
    return " " + std::string(name, strnlen(name, sizeof name));
}

HostResourceModuleScope::HostResourceModuleScope() : previous_(frame::AfxGetResourceHandle()) {
    // A handle that is no resource module leaves the texts where they are.
    if (platform::HINSTANCE host = ZORBELUPRVGetResourceDLL(); platform::ResourceTableOf(host) != nullptr) {
        frame::AfxSetResourceHandle(host);
        changed_ = true;
    }
}

HostResourceModuleScope::~HostResourceModuleScope() {
    if (changed_) frame::AfxSetResourceHandle(previous_);
}

std::string LoadHostString(uint32_t id) {
    HostResourceModuleScope scope;
    return frame::LoadResourceString(id);
}

void MoveControlUp(platform::Dialog& dialog, int id, long shift) {
    const std::optional<platform::PixelRect> d = dialog.GetWindowRect();
    const std::optional<platform::PixelRect> r = dialog.GetItemScreenRect(id);
    if (!d || !r) return;
    const long x = r->x - d->x - kMoveLeft;
    const long y = static_cast<long>(r->y - d->y) - r->height - shift;
    dialog.MoveItem(id, {static_cast<int>(x), static_cast<int>(y), r->width, r->height});
}

void RemoveIssuerBox(platform::Dialog& dialog, uint32_t heightStringId, std::initializer_list<ControlShift> shifts) {
    using namespace signature_ids;
    if (const std::optional<platform::PixelRect> window = dialog.GetWindowRect())
        dialog.SetWindowSize(window->width, window->height - static_cast<int>(StringTableNumber(heightStringId)));
    for (const ControlShift& s : shifts) MoveControlUp(dialog, s.control, StringTableNumber(s.shiftStringId));
    for (const int id : {kIssuerBox, kServiceText, kPolicyText, kIssuerIntro, kServiceLabel, kPolicyLabel})
        dialog.ShowItem(id, false);
}

std::string PolicyText(const ZORBELTimeStampInfo& info) { return " " + PolicyOf(info); }

std::string ServiceText(const ZORBELTimeStampInfo& info) {
    return " " + frame::LoadResourceString(ServiceNameId(PolicyOf(info)));
}

bool DetailsAvailable(const ZORBELUBlob* token) {
    bool readable = false;
    (void)ReadTokenInfo(token, &readable);
    return readable;
}

void ShowDetails(const ZORBELUBlob* token, ZORBELCertStore* store, bool chained) {
    try {
        if (chained) {
            CDlgTSTProp details(token, store, nullptr);
            details.DoModal();
        } else {
            CDlgTSTProp details(token, nullptr);
            details.DoModal();
        }
    } catch (...) {
        frame::ShowMessageById(kStringTokenDetailsError, static_cast<int32_t>(ZORBELU_ERR_EXCEPTION),
                               platform::MB_ICONSTOP);
    }
}

std::string VerifiedDialogTitle() {
    const char* title = ZORBELUPRVGetVerifiedDlgTitle();
    return title != nullptr ? title : std::string();
}

uint32_t CheckZone(const ZORBELUTimeZoneSelector& zone, int32_t minOffset, int32_t maxOffset) {
    if (zone.kind == ZORBELU_TIME_ZONE_FIXED_OFFSET)
        return zone.offset >= minOffset && zone.offset <= maxOffset ? ZORBELU_OK : ZORBELU_ERR_TIME_ZONE;
    ZORBELUTimeZoneInfo row{};
    return ZORBELUGetTimeZoneInfo(zone.kind, &row) == ZORBELU_OK ? ZORBELU_OK : ZORBELU_ERR_TIME_ZONE;
}

uint32_t CheckShownToken(const ZORBELUBlob* token) {
    if (token == nullptr) return ZORBELU_OK;
    if (const uint32_t usable = verify::ValidateToken(token); usable != ZORBELU_OK) return usable;
    bool readable = false;
    (void)ReadTokenInfo(token, &readable);
    return readable ? ZORBELU_OK : ZORBELU_ERR_TOKEN_INFO;
}

uint32_t RequireCertificates(const ZORBELUBlob* token) {
    // The second call gets the descriptor as the first one left it.
    std::vector<uint8_t> buffer(kCertificateBufferSize);
    ZORBELUCertBlob descriptor{buffer.data(), kCertificateBufferSize, 0};
    if (ZORBELGetTSACert(token, &descriptor) != ZORBELU_OK) return ZORBELU_ERR_TSA_CERT;
    if (ZORBELGetTAC(token, &descriptor) != ZORBELU_OK) return ZORBELU_ERR_NO_TAC;
    return ZORBELU_OK;
}

uint32_t WalkDialogChain(uint32_t count, const std::function<ChainStep(uint32_t index, bool chained)>& show) {
    for (uint32_t i = 0; i < count; ++i) {
        const ChainStep step = show(i, i + 1 < count);
        if (step.result != ZORBELU_OK) return step.result;
        if (!step.viewNext) break;
    }
    return ZORBELU_OK;
}

}  // namespace zorbelu::dialogs
