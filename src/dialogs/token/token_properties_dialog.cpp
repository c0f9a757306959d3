#include "dialogs/token/token_properties_dialog.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "certs/core_store_chains.h"
#include "dialogs/token/display_format.h"
#include "dialogs/token/tac_properties_dialog.h"
#include "frame/app.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "ui/message_box.h"
#include "zorbel.h"

namespace zorbelu::dialogs {
namespace {

constexpr uint32_t kInitialTsaCertBuffer = 10000;
constexpr uint32_t kTacBuffer = 4000;
constexpr int kTsaCertCalls = 4;

// A text field of the record after one space.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return " " + RecordText(text);
}

// A byte count of the record, held to the size of its array.
template <size_t N>
int32_t Held(uint32_t length, const uint8_t (&)[N]) {
    return static_cast<int32_t>(length < N ? length : N);
}

std::string Accuracy(int32_t seconds, int32_t millis, int32_t micros) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " %d.%03d%03d", seconds, millis, micros);
    return buffer;
}

}  // namespace

CDlgTSTProp::CDlgTSTProp(const ZORBELUBlob* token, platform::HWND parent)
    : platform::Dialog(kTemplateTokenProperties, parent), extended_(false), store_(nullptr), token_(token) {
    frame::SelectLanguageResources();
    RegisterHandlers();
}

CDlgTSTProp::CDlgTSTProp(const ZORBELUBlob* token, const ZORBELCertStore* store, platform::HWND parent)
    : platform::Dialog(kTemplateTokenPropertiesExtended, parent), extended_(true), store_(store), token_(token) {
    frame::SelectLanguageResources();
    RegisterHandlers();
}

void CDlgTSTProp::RegisterHandlers() {
    using platform::Notify;
    On(tst_ids::kTac, Notify::Clicked, [this] { OnTac(); });
    On(tst_ids::kTsaCertificate, Notify::Clicked, [this] { OnTsaCertificate(); });
    On(tst_ids::kCrl, Notify::Clicked, [this] { ViewGatheredArray(crlArray_.get(), ViewKind::Crl, GetSafeHwnd()); });
    On(tst_ids::kCa, Notify::Clicked,
       [this] { ViewGatheredArray(caArray_.get(), ViewKind::Certificate, GetSafeHwnd()); });
}

void CDlgTSTProp::DoDataExchange(platform::DataExchange& dx) {
    using namespace tst_ids;
    dx.Text(kTsaName, tsaName_);
    dx.Text(kVersion, version_);
    dx.Text(kPolicy, policy_);
    dx.Text(kSerialNumber, serialNumber_);
    dx.Text(kGenTime, genTime_);
    dx.Text(kOrdering, ordering_);
    dx.Text(kAccuracy, accuracy_);
    dx.Text(kHashOid, hashOid_);
    dx.Text(kHashName, hashName_);
    dx.Text(kHashValue, hashValue_);
    dx.Text(kHashLength, hashLength_);
}

bool CDlgTSTProp::OnInitDialog() {
    platform::Dialog::OnInitDialog();

    // A token the core library cannot read leaves the record zeroed.
    info_ = ZORBELTimeStampInfo{};
    info_.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    (void)ZORBELGetTimeStampInfoEx(token_, &info_);
    const ZORBELTimeStampInfo& i = info_;
    version_ = " " + std::to_string(i.version);
    policy_ = Field(i.policyOid);
    serialNumber_ = " " + FormatHex(i.serialNumber, Held(i.serialNumberLength, i.serialNumber));
    tsaName_ = Field(i.tsaName);
    ordering_ = i.ordering == 1 ? " TRUE" : " FALSE";
    genTime_ = Field(i.genTime);
    accuracy_ = Accuracy(i.accuracySeconds, i.accuracyMillis, i.accuracyMicros);
    hashOid_ = Field(i.hashAlgorithmOid);
    hashLength_ = " " + std::to_string(int64_t{i.hashLength} * 8);
    std::string text;
    const std::string oid = hashOid_.substr(1);
    FormatAlgorithmName(oid.c_str(), text);
    hashName_ = " " + text;
    FormatHexBlock(i.hashValue, Held(i.hashLength, i.hashValue), text);
    hashValue_ = " " + text;

    {
        std::vector<uint8_t> buffer(kInitialTsaCertBuffer);
        ZORBELUCertBlob tsaCert{buffer.data(), kInitialTsaCertBuffer, 0};
        if (ZORBELGetTSACert(token_, &tsaCert) == ZORBELU_OK) {
            if (extended_) {
                ZORBELUCertBlob* gathered = nullptr;
                const uint32_t chain = certs::BuildCAChainForCert(store_, &tsaCert, &gathered);
                caArray_.reset(gathered);
                if (chain != ZORBELU_OK) EnableItem(tst_ids::kCa, false);
                gathered = nullptr;
                const uint32_t crls = certs::CollectCRLsForChain(store_, &tsaCert, caArray_.get(), &gathered);
                crlArray_.reset(gathered);
                if (crls != ZORBELU_OK) EnableItem(tst_ids::kCrl, false);
            }
        } else {
            EnableItem(tst_ids::kTsaCertificate, false);
            if (extended_) {
                EnableItem(tst_ids::kCrl, false);
                EnableItem(tst_ids::kCa, false);
            }
        }
    }

    std::vector<uint8_t> tacBuffer(kTacBuffer);
    ZORBELUCertBlob tac{tacBuffer.data(), kTacBuffer, 0};
    if (ZORBELGetTAC(token_, &tac) == ZORBELU_OK) {
        const ZORBELUBlob tacBlob{tac.data, tac.length};
        (void)ZORBELGetTACCertInfo(&tacBlob, &tacCertInfo_);
        (void)ZORBELGetTACTimingMetrics(&tacBlob, &tacTimingMetrics_);
        (void)ZORBELGetTACTimingPolicy(&tacBlob, &tacTimingPolicy_);
    } else {
        EnableItem(tst_ids::kTac, false);
    }

    UpdateData(false);
    return true;
}

void CDlgTSTProp::OnTac() {
    // ShowTACDialog gives 1, or 1004 when the dialog could not be shown or threw.
    const uint32_t result = ShowTACDialog(tacCertInfo_, tacTimingMetrics_, tacTimingPolicy_);
    if (result != ZORBELU_OK)
        frame::ShowMessageById(kStringTacError, static_cast<int32_t>(result), platform::MB_ICONSTOP);
}

void CDlgTSTProp::OnTsaCertificate() {
    int32_t result = 0;
    try {
        // Fetched anew at every press, into a buffer of the press that grows
        // while the core library asks for more room.
        uint32_t fetched = 0;
        ZORBELUCertBlob blob{};
        frame::ScratchBuffer entry;
        for (int call = 0; call < kTsaCertCalls; ++call) {
            if (entry.Grow().data == nullptr) break;
            blob = {entry.data, entry.capacity, 0};
            fetched = ZORBELGetTSACert(token_, &blob);
            if (fetched != ZORBELU_ERR_BUFFER_TOO_SMALL) break;
        }
        if (fetched == ZORBELU_OK &&
            LaunchCertViewer(blob.data, blob.length, ViewKind::Certificate, GetSafeHwnd()) == ZORBELU_OK)
            result = 1;
    } catch (...) {
        result = static_cast<int32_t>(ZORBELU_ERR_EXCEPTION);
    }
    if (result != 1) frame::ShowMessageById(kStringTsaCertError, result, platform::MB_ICONSTOP);
}

uint32_t ShowTokenProperties(platform::HWND owner, const ZORBELUBlob* token, const ZORBELCertStore* store,
                             bool extended) {
    if (token == nullptr || token->data == nullptr || token->length == 0) return ZORBELU_ERR_PARAM;
    ZORBELTimeStampInfo check{};
    check.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    if (ZORBELGetTimeStampInfoEx(token, &check) != ZORBELU_OK) return ZORBELU_ERR_TOKEN_INFO;
    if (extended && store == nullptr) return ZORBELU_ERR_PARAM;
    // A handle that is no live window of ours gives no owner.
    const platform::HWND parent = platform::IsWindow(owner) ? owner : nullptr;
    if (extended) {
        CDlgTSTProp dialog(token, store, parent);
        if (dialog.DoModal() == -1) return dialog.LastError();
    } else {
        CDlgTSTProp dialog(token, parent);
        if (dialog.DoModal() == -1) return dialog.LastError();
    }
    return ZORBELU_OK;
}

}  // namespace zorbelu::dialogs

extern "C" ZORBELU_API uint32_t ZORBELUShowTimeStampTokenProp(ZORBELU_HWND owner, const ZORBELUBlob* token) {
    return zorbelu::frame::GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::dialogs::ShowTokenProperties(owner, token, nullptr, false);
    });
}

extern "C" ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropEx2(ZORBELU_HWND owner, const ZORBELUBlob* token,
                                                                 const ZORBELCertStore* store) {
    return zorbelu::frame::GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::dialogs::ShowTokenProperties(owner, token, store, true);
    });
}
