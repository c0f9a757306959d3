// File-open and file-save dialogs: the stand-in for MFC's CFileDialog.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ui/windows.h"

namespace zorbelu::platform {

class FileDialog {
public:
    // `filter` has the MFC form "Description|patterns|...||", patterns
    // joined by ';' ("Time-Stamp Token Files (*.tst)|*.tst|All Files
    // (*.*)|*.*||"). `defaultExtension` (without the dot) is added to a
    // chosen name that has no extension of its own, in save dialogs; when a
    // file of the final name exists the user is asked whether to replace
    // it, and a "no" shows the chooser again.
    FileDialog(bool openFileDialog, std::string defaultExtension, std::string fileName, std::string filter,
               HWND parent = nullptr);

    void SetTitle(std::string title) { title_ = std::move(title); }

    // IDOK with a path chosen, IDCANCEL, or -1 when no dialog can be shown.
    int DoModal();
    const std::string& GetPathName() const { return path_; }

    // The pairs of a filter string, in order; an unpaired tail is dropped.
    static std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& filter);

private:
    std::string WithDefaultExtension(std::string path) const;

    bool open_;
    std::string defaultExtension_;
    std::string fileName_;
    std::string filter_;
    HWND parent_;
    std::string title_;
    std::string path_;
};

}  // namespace zorbelu::platform
