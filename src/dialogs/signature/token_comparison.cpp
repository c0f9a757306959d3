#include "dialogs/signature/token_comparison.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "dialogs/signature/signature_texts.h"
#include "frame/resource_text.h"
#include "ui/dialog_file.h"
#include "platform/shell.h"

namespace zorbelu::dialogs {
namespace {

using namespace compare_ids;

constexpr uint32_t kStringTokenFileFilter = 6046;
constexpr uint32_t kStringMatched = 6041;
constexpr uint32_t kStringNotMatched = 6042;
constexpr uint32_t kStringUnreadable = 6043;
constexpr uint32_t kStringExported = 6044;
constexpr uint32_t kStringExportFailed = 6045;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

uint32_t CompareTokenFile(const std::string& path, const ZORBELUBlob& token) {
    const File file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) return kTokenFileUnreadable;
    const size_t length = token.length;
    const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length + 1]());
    if (buffer == nullptr) return kTokenFileUnreadable;
    const size_t read = std::fread(buffer.get(), 1, length, file.get());
    if (std::ferror(file.get()) != 0) return kTokenFileUnreadable;
    if (read < length) return kTokensDiffer;
    return length == 0 || std::memcmp(buffer.get(), token.data, length) == 0 ? kTokensMatch : kTokensDiffer;
}

bool ExportTokenFile(const std::string& path, const ZORBELUBlob& token) {
    std::FILE* file = std::fopen(path.c_str(), "wb+");
    if (file == nullptr) return false;
    const bool written = token.length != 0 && token.data != nullptr &&
                         std::fwrite(token.data, token.length, 1, file) == 1;
    // A close that fails (a full disk found at the last flush) has not kept
    // the bytes either.
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// ---- The page ------------------------------------------------------------------

CDlgCompareTST::CDlgCompareTST() : platform::Dialog(kTemplateCompareToken) {
    using platform::Notify;
    On(kChoose, Notify::Clicked, [this] { OnChoose(); });
    On(kCompare, Notify::Clicked, [this] { OnCompare(); });
    On(kExport, Notify::Clicked, [this] { OnExport(); });
}

void CDlgCompareTST::DoDataExchange(platform::DataExchange& dx) { dx.Text(kPath, path_); }

bool CDlgCompareTST::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    EnableItem(kCompare, false);
    return true;
}

bool CDlgCompareTST::OnKey(uint32_t key, int focusId) {
    // Enter on one of the page's buttons presses it; elsewhere it ends the dialog.
    if (owner_ != nullptr && key == platform::kKeyReturn &&
        (focusId == kChoose || focusId == kCompare || focusId == kExport)) {
        Click(focusId);
        return true;
    }
    return CloseOwnerOnKey(owner_, key);
}

ZORBELUBlob CDlgCompareTST::Token() const {
    const ZORBELUBlob* token = owner_ != nullptr ? owner_->Token() : nullptr;
    return token != nullptr ? *token : ZORBELUBlob{};
}

void CDlgCompareTST::OnChoose() {
    platform::FileDialog chooser(true, "", "", frame::LoadResourceString(kStringTokenFileFilter), GetSafeHwnd());
    if (chooser.DoModal() != platform::IDOK) return;
    path_ = chooser.GetPathName();
    UpdateData(false);
    EnableItem(kCompare, true);
}

void CDlgCompareTST::OnCompare() {
    UpdateData(true);
    const uint32_t result = CompareTokenFile(path_, Token());
    CDlgCompareResult shown(result, GetSafeHwnd());
    shown.DoModal();
}

void CDlgCompareTST::OnExport() {
    platform::FileDialog saver(false, "tst", "", frame::LoadResourceString(kStringTokenFileFilter), GetSafeHwnd());
    if (saver.DoModal() != platform::IDOK) return;
    const std::string path = saver.GetPathName();
    const bool exported = ExportTokenFile(path, Token());
    CDlgExportTST shown(!exported, GetSafeHwnd());
    if (shown.DoModal() == platform::IDOK && exported) platform::OpenFolder(FolderOf(path));
}

// ---- The result dialogs --------------------------------------------------------

CDlgCompareResult::CDlgCompareResult(uint32_t result, platform::HWND parent)
    : platform::Dialog(kTemplateCompareResult, parent), result_(result) {
    frame::SelectLanguageResources();
}

void CDlgCompareResult::DoDataExchange(platform::DataExchange& dx) { dx.Text(kCompareMessage, message_); }

bool CDlgCompareResult::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    int picture = kPictureWarning;
    uint32_t message = kStringUnreadable;
    if (result_ == kTokensMatch) {
        picture = kPictureCheck;
        message = kStringMatched;
    } else if (result_ == kTokensDiffer) {
        picture = kPictureCross;
        message = kStringNotMatched;
    }
    for (const int id : {kPictureCheck, kPictureCross, kPictureWarning}) ShowItem(id, id == picture);
    message_ = frame::LoadResourceString(message);
    UpdateData(false);
    return true;
}

CDlgExportTST::CDlgExportTST(bool failed, platform::HWND parent)
    : platform::Dialog(kTemplateExportResult, parent), failed_(failed) {
    frame::SelectLanguageResources();
}

void CDlgExportTST::DoDataExchange(platform::DataExchange& dx) { dx.Text(kExportMessage, message_); }

bool CDlgExportTST::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    message_ = frame::LoadResourceString(failed_ ? kStringExportFailed : kStringExported);
    UpdateData(false);
    return true;
}

}  // namespace zorbelu::dialogs
