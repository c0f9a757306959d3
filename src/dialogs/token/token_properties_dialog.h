// The time-stamp token properties dialog: the fields of one token, read
// through the core library when the dialog opens, and the buttons that show
// its time attribute certificate, its TSA certificate and, in the extended
// variant, the CA certificates and CRLs gathered for it from the caller's
// core certificate store.
//
// Basic variant: template 130; extended variant: template 6018, which adds
// the CRL and CA buttons. Exports: ZORBELUShowTimeStampTokenProp and
// ZORBELUShowTimeStampTokenPropEx2.
#pragma once

#include <cstdint>
#include <string>

#include "certs/cert_blob_array.h"
#include "dialogs/token/certificate_viewing.h"
#include "ui/dialog.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

inline constexpr uint32_t kTemplateTokenProperties = 130;
inline constexpr uint32_t kTemplateTokenPropertiesExtended = 6018;

namespace tst_ids {
inline constexpr int kTsaCertificate = 1003;  // button
inline constexpr int kVersion = 1004;
inline constexpr int kPolicy = 1005;
inline constexpr int kSerialNumber = 1006;
inline constexpr int kGenTime = 1007;
inline constexpr int kOrdering = 1008;
inline constexpr int kAccuracy = 1010;
inline constexpr int kHashOid = 1011;
inline constexpr int kHashName = 1013;
inline constexpr int kHashValue = 1014;
inline constexpr int kHashLength = 1015;
inline constexpr int kTsaName = 1021;
inline constexpr int kTac = 1060;  // button
inline constexpr int kCrl = 6016;  // button, extended variant
inline constexpr int kCa = 6017;   // button, extended variant
}  // namespace tst_ids

// String ids of the error messages.
inline constexpr uint32_t kStringTokenDetailsError = 5013;
inline constexpr uint32_t kStringTsaCertError = 5014;
inline constexpr uint32_t kStringTacError = 5015;

class CDlgTSTProp : public platform::Dialog {
public:
    // Basic variant. `token` is not copied: it must outlive the dialog.
    CDlgTSTProp(const ZORBELUBlob* token, platform::HWND parent);
    // Extended variant; `store` (not owned) must outlive the dialog too.
    CDlgTSTProp(const ZORBELUBlob* token, const ZORBELCertStore* store, platform::HWND parent);

    // What OnInitDialog gathered (tests).
    const ZORBELUCertBlob* CaArray() const { return caArray_.get(); }
    const ZORBELUCertBlob* CrlArray() const { return crlArray_.get(); }

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void RegisterHandlers();
    void OnTac();
    void OnTsaCertificate();

    std::string tsaName_;
    std::string version_;
    std::string policy_;
    std::string serialNumber_;
    std::string genTime_;
    std::string ordering_;
    std::string accuracy_;
    std::string hashOid_;
    std::string hashName_;
    std::string hashValue_;
    std::string hashLength_;

    ZORBELTimeStampInfo info_{};
    certs::CertBlobArray crlArray_;
    certs::CertBlobArray caArray_;
    ZORBELTACCertInfo tacCertInfo_{};
    ZORBELTACTimingMetrics tacTimingMetrics_{};
    ZORBELTACTimingPolicy tacTimingPolicy_{};
    bool extended_;
    const ZORBELCertStore* store_;
    const ZORBELUBlob* token_;
};

// The exports' work: 1 after the dialog closed; 1001 (token, or the
// extended variant's store, missing); 2001 (token unreadable); 1004 when no
// dialog could be shown. Exceptions pass to the caller's guard.
uint32_t ShowTokenProperties(platform::HWND owner, const ZORBELUBlob* token, const ZORBELCertStore* store,
                             bool extended);

}  // namespace zorbelu::dialogs
