#include "dialogs/token/tac_properties_dialog.h"

#include <cstdio>
#include <cstring>

#include "dialogs/token/display_format.h"
#include "frame/resource_text.h"

namespace zorbelu::dialogs {
namespace {

constexpr uint32_t kResultException = 1004;

// A text field of a record, never read past its array even when the core
// library left it without a NUL.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

std::string Spaced(const std::string& text) { return " " + text; }

std::string Number(int64_t value) { return " " + std::to_string(value); }

// " %f" of a float widened to double: six decimals.
std::string Seconds(float value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " %f", static_cast<double>(value));
    return buffer;
}

// A byte count of a record, held to the size of its array.
template <size_t N>
int32_t Held(uint32_t length, const uint8_t (&)[N]) {
    return static_cast<int32_t>(length < N ? length : N);
}

}  // namespace

CDlgTACProp::CDlgTACProp(const ZORBELTACCertInfo& certInfo, const ZORBELTACTimingMetrics& timingMetrics,
                         const ZORBELTACTimingPolicy& timingPolicy, platform::HWND parent)
    : platform::Dialog(kTemplateTacProperties, parent),
      certInfo_(certInfo),
      timingMetrics_(timingMetrics),
      timingPolicy_(timingPolicy) {
    frame::SelectLanguageResources();
}

void CDlgTACProp::DoDataExchange(platform::DataExchange& dx) {
    using namespace tac_ids;
    dx.Text(kVersion, version_);
    dx.Text(kHolder, holder_);
    dx.Text(kHolderHashOid, holderHashOid_);
    dx.Text(kHolderHashName, holderHashName_);
    dx.Text(kIssuer, issuer_);
    dx.Text(kNotBefore, notBefore_);
    dx.Text(kMetricsDelay, metricsDelay_);
    dx.Text(kExpiration, expiration_);
    dx.Text(kAuditedTime, auditedTime_);
    dx.Text(kMetricsOffset, metricsOffset_);
    dx.Text(kPolicyDelay, policyDelay_);
    dx.Text(kPolicyId, policyId_);
    dx.Text(kPolicyOffset, policyOffset_);
    dx.Text(kSignatureValue, signatureValue_);
    dx.Text(kSignatureOid, signatureOid_);
    dx.Text(kSignatureName, signatureName_);
    dx.Text(kSignatureLength, signatureLength_);
    dx.Text(kNotAfter, notAfter_);
    dx.Text(kSerialNumber, serialNumber_);
    dx.Text(kHolderHashValue, holderHashValue_);
    dx.Text(kHolderHashLength, holderHashLength_);
}

bool CDlgTACProp::OnInitDialog() {
    const ZORBELTACCertInfo& c = certInfo_;
    version_ = Number(c.version);
    notBefore_ = Spaced(Field(c.notBefore));
    notAfter_ = Spaced(Field(c.notAfter));
    holder_ = Spaced(Field(c.holder));
    serialNumber_ = Spaced(FormatSerial64(c.serialNumber));

    std::string text;
    FormatHexBlock(c.holderHashValue, Held(c.holderHashLength, c.holderHashValue), text);
    holderHashValue_ = Spaced(text);
    const std::string holderHashOid = Field(c.holderHashAlgorithmOid);
    holderHashOid_ = Spaced(holderHashOid);
    FormatAlgorithmName(holderHashOid.c_str(), text);
    holderHashName_ = Spaced(text);
    holderHashLength_ = Number(int64_t{c.holderHashLength} * 8);

    // The signature value alone has no leading space: it fills its lines.
    FormatHexBlock(c.signatureValue, Held(c.signatureLength, c.signatureValue), signatureValue_);
    const std::string signatureOid = Field(c.signatureAlgorithmOid);
    signatureOid_ = Spaced(signatureOid);
    FormatAlgorithmName(signatureOid.c_str(), text);
    signatureName_ = Spaced(text);
    signatureLength_ = Number(int64_t{c.signatureLength} * 8);
    issuer_ = Spaced(Field(c.issuer));

    auditedTime_ = Spaced(Field(timingMetrics_.auditedTime));
    expiration_ = Spaced(Field(timingMetrics_.expiration));
    metricsDelay_ = Seconds(timingMetrics_.delay);
    metricsOffset_ = Seconds(timingMetrics_.offset);
    policyId_ = Spaced(Field(timingPolicy_.policyOid));
    policyOffset_ = Seconds(timingPolicy_.offset);
    policyDelay_ = Seconds(timingPolicy_.delay);

    UpdateData(false);
    return true;
}

uint32_t ShowTACDialog(const ZORBELTACCertInfo& certInfo, const ZORBELTACTimingMetrics& timingMetrics,
                       const ZORBELTACTimingPolicy& timingPolicy) {
    try {
        CDlgTACProp dialog(certInfo, timingMetrics, timingPolicy, nullptr);
        if (dialog.DoModal() == -1) return dialog.LastError();
        return 1;
    } catch (...) {
        return kResultException;
    }
}

}  // namespace zorbelu::dialogs
