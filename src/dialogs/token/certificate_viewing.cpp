#include "dialogs/token/certificate_viewing.h"

#include <cstring>

#include "certs/certificate_decoding.h"
#include "certs/core_store_chains.h"
#include "x509/ossl_ptr.h"
#include "frame/resource_text.h"
#include "ui/message_box.h"

namespace zorbelu::dialogs {

void ViewGatheredArray(const ZORBELUCertBlob* array, ViewKind kind, platform::HWND owner) {
    int32_t code = 0;
    bool viewed = false;
    try {
        if (array != nullptr && array[0].data != nullptr) {
            if (array[1].data != nullptr) {
                CDlgCertCrlSel selection(array, kind, nullptr);
                (void)selection.DoModal();
                return;
            }
            viewed = LaunchCertViewer(array[0].data, array[0].length, kind, owner) == ZORBELU_OK;
        }
    } catch (...) {
        code = static_cast<int32_t>(ZORBELU_ERR_EXCEPTION);
    }
    if (!viewed)
        frame::ShowMessageById(kind == ViewKind::Certificate ? kStringCertViewError : kStringCrlViewError, code,
                               platform::MB_ICONSTOP);
}

// ---- The selection dialog ----

namespace {
constexpr uint32_t kStringCertSelectionCaption = 6048;
constexpr uint32_t kStringCrlSelectionCaption = 6049;
constexpr uint32_t kStringCertSelectionLabel = 6050;
constexpr uint32_t kStringCrlSelectionLabel = 6051;
constexpr size_t kMaxListedName = 255;
}  // namespace

std::string ListedName(const ZORBELUCertBlob& element, ViewKind kind) {
    char buffer[kMaxListedName + 1] = {};
    const X509_NAME* name = nullptr;
    X509Ptr certificate;
    X509CrlPtr crl;
    if (kind == ViewKind::Certificate) {
        certificate.reset(
            certs::DecodeCertificate(element.data, static_cast<int32_t>(element.length), element.encoding));
        if (certificate) name = X509_get_subject_name(certificate.get());
    } else {
        crl = certs::DecodeCrl(element.data, element.length, element.encoding);
        if (crl) name = X509_CRL_get_issuer(crl.get());
    }
    if (name == nullptr ||
        X509_NAME_get_text_by_NID(const_cast<X509_NAME*>(name), NID_commonName, buffer, sizeof buffer) < 0)
        return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

CDlgCertCrlSel::CDlgCertCrlSel(const ZORBELUCertBlob* array, ViewKind kind, platform::HWND parent)
    : platform::Dialog(kTemplateCertCrlSelection, parent), array_(array), kind_(kind) {
    frame::SelectLanguageResources();
    On(platform::IDOK, platform::Notify::Clicked, [this] { OnViewSelected(); });
}

void CDlgCertCrlSel::DoDataExchange(platform::DataExchange& dx) { dx.Text(selection_ids::kLabel, label_); }

bool CDlgCertCrlSel::OnInitDialog() {
    const bool certificates = kind_ == ViewKind::Certificate;
    SetCaption(frame::LoadResourceString(certificates ? kStringCertSelectionCaption : kStringCrlSelectionCaption));
    label_ = frame::LoadResourceString(certificates ? kStringCertSelectionLabel : kStringCrlSelectionLabel);
    // Each name goes on top: the last element is listed first.
    for (const ZORBELUCertBlob* element = array_; element != nullptr && element->data != nullptr; ++element)
        InsertItem(selection_ids::kList, 0, ListedName(*element, kind_));
    SetCurSel(selection_ids::kList, 0);
    UpdateData(false);
    return true;
}

void CDlgCertCrlSel::OnViewSelected() {
    int32_t code = 0;
    bool viewed = false;
    try {
        const int count = ItemCount(selection_ids::kList);
        const int position = GetCurSel(selection_ids::kList);
        // Undoes the reversal; no selection gives the terminating element.
        const int index = count - position - 1;
        if (array_ != nullptr && index >= 0 && index <= count && array_[index].data != nullptr)
            viewed = LaunchCertViewer(array_[index].data, array_[index].length, kind_, GetSafeHwnd()) == ZORBELU_OK;
    } catch (...) {
        code = static_cast<int32_t>(ZORBELU_ERR_EXCEPTION);
    }
    if (!viewed)
        frame::ShowMessageById(kind_ == ViewKind::Certificate ? kStringCertViewError : kStringCrlViewError, code,
                               platform::MB_ICONSTOP);
    EndDialog(platform::IDOK);
}

}  // namespace zorbelu::dialogs
