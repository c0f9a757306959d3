// The time attribute certificate (TAC) properties dialog, on template 129:
// the three TAC records of a token, each field formatted into a read-only
// field. It makes no call into the core library; the token properties
// dialog hands it copies of what it read.
#pragma once

#include <cstdint>
#include <string>

#include "ui/dialog.h"
#include "zorbeltypes.h"

namespace zorbelu::dialogs {

inline constexpr uint32_t kTemplateTacProperties = 129;

// Control ids of template 129.
namespace tac_ids {
inline constexpr int kVersion = 1004;
inline constexpr int kPolicyId = 1005;
inline constexpr int kSerialNumber = 1020;
inline constexpr int kNotBefore = 1021;
inline constexpr int kNotAfter = 1022;
inline constexpr int kHolderHashValue = 1023;
inline constexpr int kHolder = 1024;
inline constexpr int kHolderHashOid = 1025;
inline constexpr int kHolderHashLength = 1027;
inline constexpr int kHolderHashName = 1028;
inline constexpr int kIssuer = 1029;
inline constexpr int kSignatureLength = 1030;
inline constexpr int kSignatureOid = 1031;
inline constexpr int kSignatureName = 1032;
inline constexpr int kMetricsOffset = 1033;
inline constexpr int kMetricsDelay = 1034;
inline constexpr int kAuditedTime = 1035;
inline constexpr int kExpiration = 1036;
inline constexpr int kSignatureValue = 1037;
inline constexpr int kPolicyOffset = 1038;
inline constexpr int kPolicyDelay = 1039;
}  // namespace tac_ids

class CDlgTACProp : public platform::Dialog {
public:
    // The records are copied; the language module, when one is set, becomes
    // the source of the template and of every text.
    CDlgTACProp(const ZORBELTACCertInfo& certInfo, const ZORBELTACTimingMetrics& timingMetrics,
                const ZORBELTACTimingPolicy& timingPolicy, platform::HWND parent = nullptr);

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    // The display strings, in the order DoDataExchange binds them.
    std::string version_;
    std::string holder_;
    std::string holderHashOid_;
    std::string holderHashName_;
    std::string issuer_;
    std::string notBefore_;
    std::string metricsDelay_;
    std::string expiration_;
    std::string auditedTime_;
    std::string metricsOffset_;
    std::string policyDelay_;
    std::string policyId_;
    std::string policyOffset_;
    std::string signatureValue_;
    std::string signatureOid_;
    std::string signatureName_;
    std::string signatureLength_;
    std::string notAfter_;
    std::string serialNumber_;
    std::string holderHashValue_;
    std::string holderHashLength_;

    ZORBELTACCertInfo certInfo_;
    ZORBELTACTimingMetrics timingMetrics_;
    ZORBELTACTimingPolicy timingPolicy_;
};

// Runs the dialog on copies of the three records with no parent window:
// 1 after it closed; 1004 when it could not be shown (no display, no
// template) or an exception was caught.
uint32_t ShowTACDialog(const ZORBELTACCertInfo& certInfo, const ZORBELTACTimingMetrics& timingMetrics,
                       const ZORBELTACTimingPolicy& timingPolicy);

}  // namespace zorbelu::dialogs
