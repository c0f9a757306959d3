// The tabbed dialog's comparison and export page: compare the verified
// token byte for byte with a token file on disk, and save it to a file.
// Template 6030 (page), with the result dialogs 6031 (comparison) and 6032
// (export).
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/signature/signature_dialog_parts.h"
#include "ui/dialog.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {

inline constexpr uint32_t kTemplateCompareToken = 6030;
inline constexpr uint32_t kTemplateCompareResult = 6031;
inline constexpr uint32_t kTemplateExportResult = 6032;

namespace compare_ids {
inline constexpr int kPath = 6033;
inline constexpr int kChoose = 6034;
inline constexpr int kCompare = 6035;
inline constexpr int kExport = 6036;
inline constexpr int kCompareMessage = 6037;
inline constexpr int kExportMessage = 6038;
}  // namespace compare_ids

// Results of a comparison.
inline constexpr uint32_t kTokensDiffer = 0;
inline constexpr uint32_t kTokensMatch = 1;
inline constexpr uint32_t kTokenFileUnreadable = 2;

// The first token.length bytes of the file at `path` against the token's
// bytes: 1 equal, 0 different or the file shorter, 2 the file cannot be
// opened or read. Bytes after them are not read.
uint32_t CompareTokenFile(const std::string& path, const ZORBELUBlob& token);

// Writes exactly the token's bytes to `path`, replacing the file; false
// when the file cannot be made or not every byte was written (so an empty
// token fails too).
bool ExportTokenFile(const std::string& path, const ZORBELUBlob& token);

// The folder of a path: everything up to and including its last '/'.
std::string FolderOf(const std::string& path);

class CDlgCompareTST : public platform::Dialog {
public:
    CDlgCompareTST();
    void SetOwner(SignaturePageOwner* owner) { owner_ = owner; }

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;
    bool OnKey(uint32_t key, int focusId) override;

private:
    void OnChoose();
    void OnCompare();
    void OnExport();
    ZORBELUBlob Token() const;

    SignaturePageOwner* owner_ = nullptr;
    std::string path_;
};

class CDlgCompareResult : public platform::Dialog {
public:
    CDlgCompareResult(uint32_t result, platform::HWND parent);

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    std::string message_;
    uint32_t result_;
};

class CDlgExportTST : public platform::Dialog {
public:
    CDlgExportTST(bool failed, platform::HWND parent);

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    std::string message_;
    bool failed_;
};

}  // namespace zorbelu::dialogs
